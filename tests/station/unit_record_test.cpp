// Reading a log line back: what makes a unit, and times and numbers that are
// refused rather than misread.
#include "station/unit_record.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string portSummaryLine(const std::string& time, const std::string& rest) {
    return R"({"time":")" + time + R"(","port":"COM5","ok":true)" + rest + "}";
}

TEST(UnitRecord, AUnitIsItsStationAndNumberOnAnyPort) {
    const RecordLines read = parseRecordLines(
        R"({"time":"2026-12-07T10:00:00Z","station":"A","port":"COM5","unit":4,"ok":false})"
        "\n"
        R"({"time":"2026-12-07T10:00:30Z","station":"A","port":"COM6","unit":4,"ok":true})"
        "\n"
        R"({"time":"2026-12-07T10:00:40Z","station":"B","port":"COM5","unit":4,"ok":true})"
        "\n");
    ASSERT_EQ(read.records.size(), 3u);
    EXPECT_EQ(read.records[0].unitKey(), read.records[1].unitKey());
    EXPECT_NE(read.records[0].unitKey(), read.records[2].unitKey());
}

TEST(UnitRecord, RefusesTimesWithSignsOrSpacesAndNumbersTooLargeToHold) {
    UnitRecord record;
    EXPECT_TRUE(parseRecordLine(portSummaryLine("2026-12-07T10:00:00.5Z", ""), record));
    EXPECT_EQ(record.timeMs % 86400000, 36000500);
    for (const char* time : {"2026-12-07T10:-1:00Z", "2026-12- 7T10:00:00Z", "+026-12-07T10:00:00Z",
                             "2026-12-07T10:00:00", "2026-12-07T10:00:00.Z"}) {
        EXPECT_FALSE(parseRecordLine(portSummaryLine(time, ""), record)) << time;
    }
    UnitRecord large;
    ASSERT_TRUE(parseRecordLine(
        portSummaryLine("2026-12-07T10:00:00Z", R"(,"unit":18446744073709551615,"attempt":3)"),
        large));
    EXPECT_FALSE(large.unit);  // not wrapped round to -1
    EXPECT_EQ(large.attempt, 3);
}

}  // namespace
