// Intel HEX files for the CODE area: records become runs of consecutive data
// at device addresses, and any fault refuses the whole file naming its line.
#include "image/intel_hex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image/code_image.h"
#include "tests/image/image_files.h"
#include "tests/support/intel_hex_record.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string record(std::uint8_t type, std::uint16_t offset, const Bytes& data) {
    return intelHexRecord(type, offset, data) + "\n";
}

const std::string kBase = record(4, 0, {0x00, 0x10});  // addresses 0x10xxxx
const std::string kEnd = record(1, 0, {});

HexParse parse(const std::string& text) {
    return parseIntelHex(text, kCodeWindowStart, kCodeWindowEnd);
}

TEST(IntelHex, ConsecutiveRecordsFormOneRunAndGapsStartAnother) {
    const HexParse result =
        parse(kBase + record(0, 0x8000, {1, 2}) + record(0, 0x8002, {3}) +
              record(3, 0, {0, 0, 0, 0}) + record(0, 0x9000, {4}) + record(2, 0, {0xFF, 0xFF}) +
              record(0, 0x8013, {5}) + record(5, 0, {0, 0x10, 0x80, 0}) + kEnd);
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.runs.size(), 3u);
    EXPECT_EQ(result.runs[0].address, 0x108000u);
    EXPECT_EQ(result.runs[0].bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(result.runs[1].address, 0x109000u);
    EXPECT_EQ(result.runs[2].address, 0x108003u);  // segment 0xFFFF << 4, offset 0x8013
    EXPECT_EQ(result.runs[2].bytes, (Bytes{5}));
}

TEST(IntelHex, EveryFaultRefusesTheFileWithItsLine) {
    std::string badSum = record(0, 0x8000, {1});
    badSum[badSum.size() - 2] = badSum[badSum.size() - 2] == '0' ? '1' : '0';
    const std::vector<std::pair<std::string, std::string>> cases{
        {kBase + badSum + kEnd, "line 2: bad checksum"},
        {kBase + "8000\n" + kEnd, "line 2: does not begin with ':'"},
        {kBase + ":0180000001G0\n" + kEnd, "line 2: not hexadecimal digit pairs"},
        {kBase + ":02800000017D\n" + kEnd, "line 2: length does not match the byte count"},
        {kBase + record(0, 0x7FFF, {1}) + kEnd, "line 2: data outside the CODE area's addresses"},
        {kBase + "\n" + record(0, 0xFFFF, {1}) + record(4, 0, {0x00, 0x13}) +
             record(0, 0xBFFF, {1, 2}) + kEnd,
         "line 5: data outside the CODE area's addresses"},
        {kBase + record(0, 0x8000, {1, 2, 3}) + record(0, 0x8002, {4}) + kEnd,
         "line 3: data for addresses given before"},
        {kBase + record(6, 0, {}) + kEnd, "line 2: unknown record type"},
        {kBase + record(1, 0, {0}), "line 2: end-of-file record with data"},
        {record(4, 0, {0x10}) + kEnd, "line 1: address record without two data bytes"},
        {kBase + record(0, 0x8000, {1}), "line 2: no end-of-file record"},
        {kBase + kEnd + record(0, 0x8000, {1}), "line 3: record after the end-of-file record"},
    };
    for (const auto& [text, error] : cases) {
        const HexParse result = parse(text);
        EXPECT_FALSE(result.ok) << error;
        EXPECT_TRUE(result.runs.empty());
        EXPECT_EQ(result.error, error);
    }
}

TEST(CodeImage, BinaryUnderTheSizeRuleAndHexByItsContent) {
    ImageFiles files;
    const CodeImage full = loadCodeImage(files.make("full.bin", 212992));
    ASSERT_EQ(full.outcome, ImageOutcome::Loaded);
    ASSERT_EQ(full.blocks.size(), 1u);
    EXPECT_EQ(full.first()->targetAddress, 0x108000u);
    EXPECT_EQ(full.first()->byteCount, 212992);
    EXPECT_EQ(full.downloadFlags, 0xA5A50000u);

    const CodeImage large = loadCodeImage(files.make("large.bin", 212993));
    EXPECT_EQ(large.outcome, ImageOutcome::Incompatible);
    EXPECT_EQ(large.message, "Incompatible File");
    EXPECT_TRUE(large.blocks.empty());
    EXPECT_EQ(loadCodeImage(files.pathOf("missing.bin")).outcome, ImageOutcome::NotOpened);

    // A compiler's HEX under any name, with an alignment gap: one block over
    // the whole span, the gap erased flash.
    const std::string gapped = kBase + record(0, 0x8000, {7, 8}) + record(0, 0x8004, {9}) + kEnd;
    for (const char* name : {"image.Hex", "fw.ihx", "fw.hex.txt", "fw.ihex", "fw.bin"}) {
        std::ofstream(std::filesystem::path(files.pathOf(name))) << "\r\n" << gapped;
        const CodeImage hex = loadCodeImage(files.pathOf(name));
        ASSERT_EQ(hex.outcome, ImageOutcome::Loaded) << name << ": " << hex.message;
        EXPECT_EQ(hex.format, CodeImageFormat::IntelHex) << name;
        ASSERT_EQ(hex.blocks.size(), 1u) << name;
        EXPECT_EQ(hex.first()->targetAddress, 0x108000u);
        const std::uint8_t* data = hex.first()->data.get();
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + hex.first()->byteCount),
                  (std::vector<std::uint8_t>{7, 8, 0xFF, 0xFF, 9}));
        EXPECT_EQ(hex.downloadFlags, 0xA5A50000u);
    }

    // Text that is not HEX stays a binary; nothing to write is refused.
    std::ofstream(std::filesystem::path(files.pathOf("notes.bin"))) << ":-) not records\n";
    EXPECT_EQ(loadCodeImage(files.pathOf("notes.bin")).format, CodeImageFormat::Binary);
    std::ofstream(std::filesystem::path(files.pathOf("only-end.ihx"))) << kEnd;
    EXPECT_EQ(loadCodeImage(files.pathOf("only-end.ihx")).outcome, ImageOutcome::NoBytes);
    const CodeImage empty = loadCodeImage(files.make("empty.bin", 0));
    EXPECT_EQ(empty.outcome, ImageOutcome::NoBytes);
    EXPECT_EQ(empty.message, "the image holds no bytes");
}

}  // namespace
