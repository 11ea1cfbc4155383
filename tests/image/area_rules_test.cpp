// The area table and the size rule that follows from the area's base address.
#include <gtest/gtest.h>

#include <limits>

#include "image/area_table.h"
#include "image/size_rule.h"

namespace {

struct AreaRowCase {
    const wchar_t* text;
    std::uint32_t base;
    std::int32_t size;
    std::uint32_t flags;
    const wchar_t* addressText;
    bool addressEnabled;
};

TEST(AreaTable, EveryRowSetsItsBaseSizeFlagsAndAddressField) {
    const AreaRowCase rows[] = {
        {L"CODE", 0x8000, 212992, 0xA5A50000u, L"0x008000(212992)", false},
        {L"OEM", 0x3CC00, 13312, 0, L"0x03cc00(13312)", false},
        {L"PARAMETER", 0x3C000, 3072, 0, L"0x03c000(3072)", false},
        {L"BOOT", 0, 32768, 0, L"0x000000(32768)", false},
        {L"CUSTOM", 0, 0, 0, L"", true},
    };
    for (const AreaRowCase& row : rows) {
        SCOPED_TRACE(testing::Message() << "area " << row.text);
        AreaState state{0xA5A50000u, 0x1234, 99};
        const AddressField field = applyArea(row.text, state);
        EXPECT_EQ(state.areaBase, row.base);
        EXPECT_EQ(state.areaSize, row.size);
        EXPECT_EQ(state.downloadFlags, row.flags);
        EXPECT_EQ(field.text, row.addressText);
        EXPECT_EQ(field.enabled, row.addressEnabled);
    }
}

TEST(AreaTable, UnknownTextClearsFlagsAndFieldButKeepsBaseAndSize) {
    for (const wchar_t* text : {L"code", L"CODE ", L"", L"FLASH"}) {
        SCOPED_TRACE(testing::Message() << "area '" << text << "'");
        AreaState state{0xA5A50000u, 0x3CC00, 13312};
        const AddressField field = applyArea(text, state);
        EXPECT_EQ(state.downloadFlags, 0u);
        EXPECT_EQ(state.areaBase, 0x3CC00u);
        EXPECT_EQ(state.areaSize, 13312);
        EXPECT_EQ(field.text, L"");
        EXPECT_FALSE(field.enabled);
    }
}

AreaState applied(const wchar_t* area) {
    AreaState state;
    applyArea(area, state);
    return state;
}

TEST(SizeRule, CodeAcceptsUpToTheAreaSizeAndExpectsTheFileSize) {
    for (std::int32_t size : {0, 1, 212992, -1}) {
        SCOPED_TRACE(size);
        AreaState state = applied(L"CODE");
        EXPECT_EQ(applySizeRule(size, state), SizeVerdict::Accepted);
        EXPECT_EQ(state.areaSize, size);
        EXPECT_EQ(state.downloadFlags, 0xA5A50000u);
    }
}

TEST(SizeRule, CodeRefusesLargerFilesAndStillRecordsTheirSize) {
    for (std::int32_t size : {212993, std::numeric_limits<std::int32_t>::max()}) {
        SCOPED_TRACE(size);
        AreaState state = applied(L"CODE");
        EXPECT_EQ(applySizeRule(size, state), SizeVerdict::Incompatible);
        EXPECT_EQ(state.areaSize, size);
    }
}

TEST(SizeRule, BootAndCustomExpectTheFileSizeOthersKeepTheirFixedSize) {
    struct Case {
        const wchar_t* area;
        std::int32_t expected;
    };
    for (const Case& c : {Case{L"BOOT", 5000}, Case{L"CUSTOM", 5000}, Case{L"OEM", 13312},
                          Case{L"PARAMETER", 3072}}) {
        SCOPED_TRACE(testing::Message() << "area " << c.area);
        AreaState state = applied(c.area);
        EXPECT_EQ(applySizeRule(5000, state), SizeVerdict::Accepted);
        EXPECT_EQ(state.areaSize, c.expected);
        EXPECT_EQ(state.downloadFlags, 0u);
    }
}

TEST(SizeRule, SizesBeyondThirtyTwoBitsSaturateInsteadOfWrapping) {
    EXPECT_EQ(clampFileSize(0), 0);
    EXPECT_EQ(clampFileSize(212992), 212992);
    EXPECT_EQ(clampFileSize(0x7FFFFFFFLL), 0x7FFFFFFF);
    // 2 GiB would wrap to a negative size, 4 GiB + 1 to a tiny one.
    EXPECT_EQ(clampFileSize(0x80000000LL), 0x7FFFFFFF);
    EXPECT_EQ(clampFileSize(0x100000001LL), 0x7FFFFFFF);
}

}  // namespace
