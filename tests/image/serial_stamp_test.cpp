// Serial numbers stamped into a copy of the image: where they fit, each format's
// bytes, and numbers too wide for their layout.
#include "image/serial_stamp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const ImageBlock& block) {
    return Bytes(block.data.get(), block.data.get() + block.byteCount);
}

SerialLayout layout(std::uint32_t address, const std::string& format) {
    SerialLayout result;
    result.address = address;
    std::string error;
    EXPECT_TRUE(parseSerialFormat(format, result, error)) << error;
    return result;
}

TEST(SerialStamp, FitsInsideOneBlockAndWritesEachFormatIntoTheCopyOnly) {
    // Two blocks with a gap: 0x1000..0x100F and 0x1020..0x1027.
    ImageBlock second;
    second.targetAddress = 0x1020;
    second.byteCount = 8;
    second.data = std::make_unique<std::uint8_t[]>(8);
    std::fill_n(second.data.get(), 8, 0xEE);
    ImageBlock first;
    first.targetAddress = 0x1000;
    first.byteCount = 16;
    first.data = std::make_unique<std::uint8_t[]>(16);
    std::fill_n(first.data.get(), 16, 0xFF);
    first.next = &second;

    EXPECT_TRUE(serialFits(&first, layout(0x1000, "u32le")));      // at the start
    EXPECT_TRUE(serialFits(&first, layout(0x100C, "u32be")));      // at the end
    EXPECT_FALSE(serialFits(&first, layout(0x100E, "u32le")));     // across the end
    EXPECT_FALSE(serialFits(&first, layout(0x1012, "u32le")));     // in the gap
    EXPECT_FALSE(serialFits(&first, layout(0x100C, "ascii:20")));  // across the gap
    EXPECT_TRUE(serialFits(&first, layout(0x1020, "ascii:8")));
    EXPECT_FALSE(serialFits(&first, layout(0x0FFE, "u32le")));  // before the image

    auto copy = copyBlocks(&first);
    ASSERT_EQ(copy.size(), 2u);
    ASSERT_EQ(copy[0]->next, copy[1].get());
    EXPECT_EQ(copy[1]->next, nullptr);
    std::string error;
    ASSERT_TRUE(stampSerial(copy[0].get(), layout(0x1000, "u32le"), 0x12345678, error)) << error;
    ASSERT_TRUE(stampSerial(copy[0].get(), layout(0x100C, "u32be"), 0x12345678, error)) << error;
    ASSERT_TRUE(stampSerial(copy[0].get(), layout(0x1021, "ascii:6"), 4207, error)) << error;
    EXPECT_EQ(bytesOf(*copy[0]), (Bytes{0x78, 0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0xFF, 0xFF, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(bytesOf(*copy[1]), (Bytes{0xEE, '0', '0', '4', '2', '0', '7', 0xEE}));
    EXPECT_EQ(bytesOf(first), Bytes(16, 0xFF));
    EXPECT_EQ(bytesOf(second), Bytes(8, 0xEE));

    // Too wide for the layout, or outside the image: refused, nothing written.
    EXPECT_FALSE(stampSerial(copy[0].get(), layout(0x1000, "u32le"), 0x100000000ull, error));
    EXPECT_NE(error.find("32 bits"), std::string::npos);
    EXPECT_FALSE(stampSerial(copy[0].get(), layout(0x1020, "ascii:3"), 1000, error));
    EXPECT_NE(error.find("3 digits"), std::string::npos);
    EXPECT_FALSE(stampSerial(copy[0].get(), layout(0x100E, "u32le"), 1, error));
    EXPECT_NE(error.find("0x00100E"), std::string::npos);
    EXPECT_EQ(bytesOf(*copy[1]), (Bytes{0xEE, '0', '0', '4', '2', '0', '7', 0xEE}));

    SerialLayout parsed;
    for (const char* bad : {"u16", "ascii:", "ascii:0", "ascii:21", "ascii:x", "U32LE"}) {
        EXPECT_FALSE(parseSerialFormat(bad, parsed, error)) << bad;
    }
}

}  // namespace
