// The BlockList's replacement rule: one block per address, the newest last.
#include "image/block_list.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <vector>

#include "image_files.h"

namespace {

class BlockListTest : public ::testing::Test {
  protected:
    ~BlockListTest() override { releaseList(head_); }

    ImageBlock* add(std::uint32_t address) {
        auto* block = new ImageBlock;
        block->targetAddress = address;
        block->next = reinterpret_cast<ImageBlock*>(0x1);  // stale link must be cleared
        ImageBlock* replaced = addBlock(head_, block);
        if (replaced != nullptr) retired_.emplace_back(replaced);
        return block;
    }

    ImageBlock* head_ = nullptr;
    std::vector<std::unique_ptr<ImageBlock>> retired_;
};

TEST_F(BlockListTest, AddsToTheTailInOrderOfAddition) {
    ImageBlock* first = add(0x13C000);
    add(0x108000);
    EXPECT_EQ(head_, first);
    EXPECT_EQ(addressesOf(head_), (std::vector<std::uint32_t>{0x13C000, 0x108000}));
    EXPECT_TRUE(retired_.empty());
}

TEST_F(BlockListTest, ReplacingTheHeadMovesTheNewBlockToTheTail) {
    add(0x13C000);
    add(0x108000);
    ImageBlock* newer = add(0x13C000);
    EXPECT_EQ(addressesOf(head_), (std::vector<std::uint32_t>{0x108000, 0x13C000}));
    EXPECT_EQ(head_->next, newer);
    ASSERT_EQ(retired_.size(), 1u);
    EXPECT_NE(retired_[0].get(), newer);
}

TEST_F(BlockListTest, ReplacingTheTailKeepsThePlaceAndNewAddressesAreAppended) {
    add(0x13C000);
    add(0x108000);
    ImageBlock* old = add(0x13CC00);
    ImageBlock* newer = add(0x13CC00);
    EXPECT_EQ(addressesOf(head_), (std::vector<std::uint32_t>{0x13C000, 0x108000, 0x13CC00}));
    EXPECT_EQ(head_->next->next, newer);
    ASSERT_EQ(retired_.size(), 1u);
    EXPECT_EQ(retired_[0].get(), old);

    add(0x100000);
    EXPECT_EQ(addressesOf(head_),
              (std::vector<std::uint32_t>{0x13C000, 0x108000, 0x13CC00, 0x100000}));
}

TEST_F(BlockListTest, OnlyABlockWithBytesMakesAnImage) {
    EXPECT_FALSE(holdsImageBytes(head_));
    add(0x108000);  // an empty file's block
    EXPECT_FALSE(holdsImageBytes(head_));
    add(0x13C000)->byteCount = 1;
    EXPECT_TRUE(holdsImageBytes(head_));
}

}  // namespace
