// Loading image files into the BlockList under the selected area's rules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "image/area_table.h"
#include "image/image_placement.h"
#include "image_files.h"
#include "platform/system_text.h"

namespace {

class ImageLoadingTest : public ::testing::Test {
  protected:
    ~ImageLoadingTest() override {
        releaseList(head_);
        for (ImageBlock* block : retired_) delete block;
    }

    // Selects the area, then places the file as the dialog does after examining it.
    PlacementResult place(const wchar_t* area, const std::wstring& path, std::int32_t fileSize) {
        state_ = AreaState{};
        applyArea(area, state_);
        PlacementResult result = placeImageFile(path, fileSize, state_, head_);
        if (result.load.replaced != nullptr) retired_.push_back(result.load.replaced);
        return result;
    }

    ImageFiles files_;
    AreaState state_;
    ImageBlock* head_ = nullptr;
    std::vector<ImageBlock*> retired_;
};

TEST_F(ImageLoadingTest, CodeImageOfTheFullAreaSizeBecomesOneBlockWithTheFileBytes) {
    const std::wstring path = files_.make("full.bin", 212992);
    const PlacementResult result = place(L"CODE", path, 212992);
    ASSERT_EQ(result.outcome, ImageOutcome::Loaded);
    ASSERT_EQ(head_, result.load.block);
    EXPECT_EQ(head_->targetAddress, 0x108000u);
    EXPECT_EQ(head_->byteCount, 212992);
    EXPECT_EQ(head_->next, nullptr);
    EXPECT_EQ(state_.downloadFlags, 0xA5A50000u);
    bool same = true;
    for (std::size_t i = 0; i < 212992 && same; ++i) same = head_->data[i] == patternByte(i);
    EXPECT_TRUE(same) << "block bytes differ from the file";
}

TEST_F(ImageLoadingTest, CodeImageOneByteTooLargeIsRefusedAndTheEarlierBlockStays) {
    const std::wstring small = files_.make("small.bin", 100);
    ASSERT_EQ(place(L"CODE", small, 100).outcome, ImageOutcome::Loaded);
    ImageBlock* earlier = head_;

    const std::wstring large = files_.make("large.bin", 212993);
    const PlacementResult result = place(L"CODE", large, 212993);
    EXPECT_EQ(result.outcome, ImageOutcome::Incompatible);
    EXPECT_EQ(result.load.block, nullptr);
    EXPECT_EQ(head_, earlier);
    EXPECT_EQ(head_->next, nullptr);
    EXPECT_EQ(state_.areaSize, 212993);
}

TEST_F(ImageLoadingTest, EmptyCodeImageGivesAnEmptyBlock) {
    const std::wstring path = files_.make("empty.bin", 0);
    ASSERT_EQ(place(L"CODE", path, 0).outcome, ImageOutcome::Loaded);
    EXPECT_EQ(head_->byteCount, 0);
    EXPECT_EQ(head_->targetAddress, 0x108000u);
}

TEST_F(ImageLoadingTest, OemImageMustHaveExactlyTheAreaSize) {
    const std::wstring exact = files_.make("oem.bin", 13312);
    ASSERT_EQ(place(L"OEM", exact, 13312).outcome, ImageOutcome::Loaded);
    EXPECT_EQ(addressesOf(head_), std::vector<std::uint32_t>{0x13CC00});

    const std::wstring longer = files_.make("oem-long.bin", 13313);
    EXPECT_EQ(place(L"OEM", longer, 13313).outcome, ImageOutcome::WrongBlockSize);
    EXPECT_EQ(addressesOf(head_), std::vector<std::uint32_t>{0x13CC00});
    EXPECT_EQ(head_->byteCount, 13312);
}

TEST_F(ImageLoadingTest, SecondFileReplacesTheFirstAndBootAndCustomShareAnAddress) {
    ASSERT_EQ(place(L"CODE", files_.make("a.bin", 10), 10).outcome, ImageOutcome::Loaded);
    ASSERT_EQ(place(L"CODE", files_.make("b.bin", 20), 20).outcome, ImageOutcome::Loaded);
    EXPECT_EQ(addressesOf(head_), std::vector<std::uint32_t>{0x108000});
    EXPECT_EQ(head_->byteCount, 20);

    ASSERT_EQ(place(L"BOOT", files_.make("boot.bin", 30), 30).outcome, ImageOutcome::Loaded);
    ASSERT_EQ(place(L"CUSTOM", files_.make("custom.bin", 40), 40).outcome, ImageOutcome::Loaded);
    EXPECT_EQ(addressesOf(head_), (std::vector<std::uint32_t>{0x108000, 0x100000}));
    EXPECT_EQ(head_->next->byteCount, 40);
}

TEST_F(ImageLoadingTest, UnexaminedFileInTheCodeAreaIsAWrongBlockSize) {
    // ShowFileInfo reports -1 when the file is held open by another program.
    const std::wstring path = files_.make("held.bin", 64);
    EXPECT_EQ(place(L"CODE", path, -1).outcome, ImageOutcome::WrongBlockSize);
    EXPECT_EQ(head_, nullptr);
}

TEST_F(ImageLoadingTest, MissingFileLoadsNothingAndReportsNothing) {
    EXPECT_EQ(place(L"CODE", files_.pathOf("absent.bin"), -1).outcome, ImageOutcome::NotOpened);
    EXPECT_EQ(head_, nullptr);
}

TEST_F(ImageLoadingTest, FilesOfTwoGibibytesOrMoreAreRefusedWithoutAllocating) {
    // A sparse file takes no disk space.
    const std::wstring path = files_.make("huge.bin", 0);
    const std::string narrow = utf8FromWide(path);
    ASSERT_EQ(truncate(narrow.c_str(), 0x100000000LL + 5), 0);

    // Its low 32 bits would read as 5: the saturated size is refused in CODE.
    EXPECT_EQ(place(L"CODE", path, 0x7FFFFFFF).outcome, ImageOutcome::Incompatible);
    // BOOT expects the saturated size, which the real size does not match.
    EXPECT_EQ(place(L"BOOT", path, 0x7FFFFFFF).outcome, ImageOutcome::WrongBlockSize);
    // Even with no size expected the loader never takes it.
    ImageBlock* head = nullptr;
    EXPECT_EQ(loadImageBlock(path, 0x100000, 0, head).outcome, ImageOutcome::Incompatible);
    EXPECT_EQ(head, nullptr);
    EXPECT_EQ(head_, nullptr);
}

// A stream measured at `claimed` bytes whose reads end, or fail, after
// `available`: a file cut short between measuring and reading.
struct ShortStream {
    off64_t claimed;
    off64_t available;
    bool readFails;
    off64_t position = 0;

    std::FILE* open() {
        cookie_io_functions_t io{};
        io.read = [](void* self, char*, std::size_t size) -> ssize_t {
            auto& stream = *static_cast<ShortStream*>(self);
            if (stream.position >= stream.available) return stream.readFails ? -1 : 0;
            const auto count = std::min<off64_t>(size, stream.available - stream.position);
            stream.position += count;
            return count;
        };
        io.seek = [](void* self, off64_t* offset, int whence) {
            auto& stream = *static_cast<ShortStream*>(self);
            const off64_t base = whence == SEEK_END   ? stream.claimed
                                 : whence == SEEK_CUR ? stream.position
                                                      : 0;
            *offset = stream.position = base + *offset;
            return 0;
        };
        return fopencookie(this, "rb", io);
    }
};

TEST(ImageReading, AFileReadShortOrWithAnErrorIsNotLoadedAndTheEarlierBlockStays) {
    ImageBlock* head = nullptr;
    ShortStream whole{5000, 5000, false};
    std::FILE* file = whole.open();
    ASSERT_EQ(loadImageBlock(file, 0x108000, 0, head).outcome, ImageOutcome::Loaded);
    std::fclose(file);
    ImageBlock* earlier = head;
    ASSERT_NE(earlier, nullptr);
    EXPECT_EQ(earlier->byteCount, 5000);

    for (ShortStream stream : {ShortStream{5000, 4096, false}, ShortStream{5000, 0, false},
                               ShortStream{5000, 4096, true}}) {
        file = stream.open();
        const LoadResult result = loadImageBlock(file, 0x108000, 0, head);
        std::fclose(file);
        EXPECT_EQ(result.outcome, ImageOutcome::NotOpened)
            << stream.available << " of " << stream.claimed << " bytes, read fails "
            << stream.readFails;
        EXPECT_EQ(result.block, nullptr);
        EXPECT_EQ(head, earlier);
    }
    releaseList(head);
}

}  // namespace
