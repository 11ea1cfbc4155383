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

TEST(CodeImage, BinaryUnderTheSizeRuleAndHexByItsExtension) {
    ImageFiles files;
    const CodeImage full = loadCodeImage(files.make("full.bin", 212992));
    ASSERT_EQ(full.outcome, CodeImageOutcome::Loaded);
    ASSERT_EQ(full.blocks.size(), 1u);
    EXPECT_EQ(full.first()->targetAddress, 0x108000u);
    EXPECT_EQ(full.first()->byteCount, 212992);
    EXPECT_EQ(full.downloadFlags, 0xA5A50000u);

    const CodeImage large = loadCodeImage(files.make("large.bin", 212993));
    EXPECT_EQ(large.outcome, CodeImageOutcome::Incompatible);
    EXPECT_EQ(large.message, "Incompatible File");
    EXPECT_TRUE(large.blocks.empty());
    EXPECT_EQ(loadCodeImage(files.pathOf("missing.bin")).outcome, CodeImageOutcome::CannotOpen);

    std::ofstream(std::filesystem::path(files.pathOf("image.Hex")))
        << kBase << record(0, 0x8000, {7, 8}) << record(0, 0xA000, {9}) << kEnd;
    const CodeImage hex = loadCodeImage(files.pathOf("image.Hex"));
    ASSERT_EQ(hex.outcome, CodeImageOutcome::Loaded) << hex.message;
    ASSERT_EQ(hex.blocks.size(), 2u);
    EXPECT_EQ(hex.first()->next, hex.blocks[1].get());
    EXPECT_EQ(hex.blocks[1]->targetAddress, 0x10A000u);
    EXPECT_EQ(hex.byteCount(), 3);
    EXPECT_EQ(hex.downloadFlags, 0xA5A50000u);
}

}  // namespace
