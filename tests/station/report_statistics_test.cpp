// The report's statistics over a log shared by two stations with the same unit
// numbers, with retries, interrupted attempts and a serial number given twice.
#include "station/report_statistics.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Line {
    const char* event;
    const char* station;
    const char* port;
    int unit;
    int attempt;
    int serial;        // 0 for none
    const char* time;  // "MM:SS" past 10:00 UTC
    bool ok;
};

std::string logOf(std::initializer_list<Line> lines) {
    std::string log;
    for (const Line& line : lines) {
        UnitRecord record;
        record.event =
            std::string(line.event) == "start" ? RecordEvent::Start : RecordEvent::Result;
        record.time = std::string("2026-12-07T10:") + line.time + "Z";
        record.station = line.station;
        record.port = line.port;
        record.unit = line.unit;
        record.attempt = line.attempt;
        if (line.serial != 0) record.serial = line.serial;
        record.flash["ok"] = line.ok;
        if (!line.ok) record.reason = "no answer";
        log += recordLine(record) + "\n";
    }
    return log;
}

TEST(ReportStatistics, CountsResultsOfTwoStationsByStationAndUnit) {
    // Both stations number their units from 1; a start is not an attempt.
    const Report report = makeReport(parseRecordLines(logOf({
        {"start", "A", "COM5", 1, 1, 100, "00:00", false},
        {"result", "A", "COM5", 1, 1, 100, "00:30", true},
        {"start", "B", "COM5", 1, 1, 200, "00:10", false},
        {"result", "B", "COM5", 1, 1, 200, "00:40", false},
        {"start", "B", "COM5", 1, 2, 200, "00:45", false},
        {"result", "B", "COM5", 1, 2, 200, "01:10", true},
        {"result", "A", "COM5", 2, 1, 101, "01:30", true},
        {"result", "A", "COM6", 3, 1, 102, "02:00", false},
    })));
    EXPECT_EQ(report.records, 8u);
    EXPECT_EQ(report.results, 5u);
    EXPECT_EQ(report.overall.units(), 4u);
    EXPECT_EQ(report.overall.passed, 3u);
    EXPECT_EQ(report.overall.failed, 1u);
    ASSERT_EQ(report.overall.reasons.size(), 1u);
    EXPECT_EQ(report.overall.reasons[0].second, 2u);  // B's first attempt too

    ASSERT_EQ(report.stations.size(), 2u);
    EXPECT_EQ(report.stations[0].station, "A");
    EXPECT_EQ(report.stations[0].summary.units(), 3u);
    EXPECT_EQ(report.stations[1].summary.passed, 1u);
    EXPECT_EQ(report.stations[1].summary.failed, 0u);

    // Slots are a station's ports: A's and B's COM5 apart; cycles between results only.
    ASSERT_EQ(report.slots.size(), 3u);
    EXPECT_EQ(report.slots[0].station, "A");
    EXPECT_EQ(report.slots[1].station, "B");
    EXPECT_EQ(report.slots[1].port, "COM5");
    EXPECT_EQ(report.slots[0].summary.cycles, std::vector<double>{60});
    EXPECT_EQ(report.slots[1].summary.cycles, std::vector<double>{30});
    EXPECT_EQ(report.overall.medianCycle(), 45);
    EXPECT_EQ(report.slots[2].summary.lowestSerial, 102u);

    EXPECT_TRUE(report.interrupted.empty());
    EXPECT_TRUE(report.duplicateSerials.empty());  // the same number in two attempts of one unit
}

TEST(ReportStatistics, ListsAStartWithoutAResultUnlessTheUnitWasFlashedAgain) {
    const Report report = makeReport(parseRecordLines(logOf({
        {"start", "A", "COM5", 1, 1, 100, "00:00", false},  // flashed again below
        {"start", "A", "COM6", 2, 1, 101, "00:05", false},  // interrupted
        {"start", "A", "COM5", 1, 2, 100, "01:00", false},
        {"result", "A", "COM5", 1, 2, 100, "01:30", true},
        {"result", "A", "COM5", 3, 1, 0, "02:00", true},
        {"start", "A", "COM5", 3, 2, 0, "02:10", false},    // a retry that never ended
        {"start", "B", "COM6", 2, 1, 101, "02:20", false},  // another station's unit 2
    })));
    ASSERT_EQ(report.interrupted.size(), 3u);
    const InterruptedUnit& first = report.interrupted[0];
    EXPECT_EQ(first.unit.station, "A");
    EXPECT_EQ(first.unit.port, "COM6");
    EXPECT_EQ(first.unit.unit, 2);
    EXPECT_EQ(first.attempt, 1);
    EXPECT_EQ(first.serial, 101u);
    EXPECT_EQ(first.time, "2026-12-07T10:00:05Z");
    EXPECT_EQ(first.unit.line, 2u);
    EXPECT_EQ(report.interrupted[1].unit.unit, 3);
    EXPECT_EQ(report.interrupted[1].attempt, 2);
    EXPECT_FALSE(report.interrupted[1].serial);
    EXPECT_EQ(report.interrupted[2].unit.station, "B");

    // Units counted by their results only; a station with starts alone has no units.
    EXPECT_EQ(report.overall.units(), 2u);
    ASSERT_EQ(report.stations.size(), 2u);
    EXPECT_EQ(report.stations[1].summary.units(), 0u);

    // A start proves its number was given: 101 went to A's unit 2 and B's unit 2.
    ASSERT_EQ(report.duplicateSerials.size(), 1u);
    EXPECT_EQ(report.duplicateSerials[0].serial, 101u);
    ASSERT_EQ(report.duplicateSerials[0].units.size(), 2u);
    EXPECT_EQ(report.duplicateSerials[0].units[1].station, "B");
    EXPECT_EQ(report.duplicateSerials[0].units[1].line, 7u);
}

TEST(ReportStatistics, CountsAUnitByItsLastResultAndNamesSkippedLines) {
    std::string log = logOf({
        {"result", "", "COM5", 1, 2, 0, "01:00", true},
        {"result", "", "COM5", 1, 1, 0, "00:30", false},  // a lower attempt written later
        {"result", "", "COM6", 2, 1, 0, "00:40", false},
        {"result", "", "COM6", 2, 1, 0, "00:50", true},  // the later line on a tie
    });
    log += "not a record\n\n" + logOf({{"result", "", "COM5", 4, 1, 0, "02:00", true}});
    log += R"({"event":"result","time":"2026-12-07T10:03:00Z","port":"CO)";  // torn tail
    const Report report = makeReport(parseRecordLines(log));
    EXPECT_EQ(report.overall.passed, 3u);
    EXPECT_EQ(report.overall.failed, 0u);
    EXPECT_EQ(report.skipped, (std::vector<std::size_t>{5, 8}));
    EXPECT_NEAR(*report.overall.boardsPerHour, 3 / (90.0 / 3600), 1e-9);
}

}  // namespace
