// quorvel-cli report on a station log with two slots, a retried unit, a
// serial number given twice, a unit interrupted after its start record, and
// lines that cannot be read, the last one torn without its line end.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/cli/cli_process.h"

namespace {

using Json = nlohmann::json;

std::string record(const std::string& time, const std::string& port, bool ok, int unit, int attempt,
                   const std::string& reason, const std::string& serial) {
    return R"({"time":"2026-12-07T)" + time + R"(Z","port":")" + port + R"(","ok":)" +
           (ok ? "true" : "false") + R"(,"status":0,"code":0,"reason":)" +
           (reason.empty() ? "null" : "\"" + reason + "\"") + R"(,"unit":)" + std::to_string(unit) +
           R"(,"attempt":)" + std::to_string(attempt) + R"(,"serial":)" + serial + "}\n";
}

TEST(CliReport, CountsUnitsByTheirLastAttemptPerSlotAndNamesDuplicateSerials) {
    char pattern[] = "/tmp/quorvel-report-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = pattern;
    std::ofstream(path, std::ios::binary)
        << record("10:00:00.000", "COM5", true, 1, 1, "", "1000")
        << record("10:00:05.000", "COM6", false, 2, 1, "no answer", "1001")
        << record("10:00:40.000", "COM5", true, 3, 1, "", "1002")
        << R"({"time":"2026-12-07T10:00:41.000Z","port":"COM5",)"
        << "\n"
        << record("10:00:50.000", "COM6", true, 2, 2, "", "1003")
        << record("10:01:30.000", "COM5", false, 4, 1, "refused", "1004")
        << record("10:01:40.000", "COM6", true, 5, 1, "", "1002") << R"({"port":"COM6","ok":true})"
        << "\n"
        << record("10:02:00.000", "COM5", false, 6, 1, "no answer", "null")
        << R"({"event":"start","time":"2026-12-07T10:02:10.000Z","port":"COM6","unit":7,)"
        << R"("attempt":1,"serial":1005})"
        << "\n"
        << R"({"event":"result","time":"2026-12-07T10:02:30.000Z","port":"COM5","ok":tr)";

    const CliOutcome outcome = runCli({"report", path, "--json"});
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.err.find("line 4: cannot be read, skipped"), std::string::npos);
    EXPECT_NE(outcome.err.find("line 8: cannot be read, skipped"), std::string::npos);
    EXPECT_NE(outcome.err.find("line 11: cannot be read, skipped (the last line, cut short)"),
              std::string::npos);
    const Json report = Json::parse(outcome.out);
    EXPECT_EQ(report["skipped_lines"], Json({4, 8, 11}));

    // Unit 2 failed once and then passed; every failed attempt names its reason.
    const Json& overall = report["overall"];
    EXPECT_EQ(overall["passed"], 4);
    EXPECT_EQ(overall["failed"], 2);
    EXPECT_NEAR(overall["yield_percent"].get<double>(), 66.67, 0.01);
    EXPECT_NEAR(overall["boards_per_hour"].get<double>(), 180, 0.01);  // 6 units in 2 minutes
    EXPECT_EQ(overall["failure_reasons"], Json({{"no answer", 2}, {"refused", 1}}));
    EXPECT_EQ(overall["serials"], Json({{"min", 1000}, {"max", 1004}}));
    // Cycles: COM5 40, 50, 30 s; COM6 45, 50 s.
    EXPECT_EQ(overall["cycle_time"]["count"], 5);
    EXPECT_DOUBLE_EQ(overall["cycle_time"]["median_seconds"].get<double>(), 45);
    EXPECT_DOUBLE_EQ(overall["cycle_time"]["p95_seconds"].get<double>(), 50);

    ASSERT_EQ(report["slots"].size(), 2u);
    const Json& com5 = report["slots"][0];
    const Json& com6 = report["slots"][1];
    EXPECT_EQ(com5["station"], "");  // a log older than station names
    EXPECT_EQ(com5["port"], "COM5");
    EXPECT_EQ(com5["passed"], 2);
    EXPECT_EQ(com5["failed"], 2);
    EXPECT_DOUBLE_EQ(com5["cycle_time"]["median_seconds"].get<double>(), 40);
    EXPECT_EQ(com6["passed"], 2);
    EXPECT_EQ(com6["failed"], 0);
    EXPECT_DOUBLE_EQ(com6["cycle_time"]["median_seconds"].get<double>(), 47.5);
    EXPECT_NEAR(com6["boards_per_hour"].get<double>(), 75.79, 0.01);  // 2 units in 95 s
    EXPECT_EQ(com6["failure_reasons"], Json({{"no answer", 1}}));

    ASSERT_EQ(report["duplicate_serials"].size(), 1u);
    const Json& duplicate = report["duplicate_serials"][0];
    EXPECT_EQ(duplicate["serial"], 1002);
    EXPECT_EQ(duplicate["units"][0]["unit"], 3);
    EXPECT_EQ(duplicate["units"][1]["unit"], 5);

    // The start record is no attempt: the figures above leave it out.
    ASSERT_EQ(report["interrupted"].size(), 1u);
    EXPECT_EQ(report["interrupted"][0]["unit"], 7);
    EXPECT_EQ(report["interrupted"][0]["serial"], 1005);
    EXPECT_EQ(report["interrupted"][0]["line"], 10);

    const CliOutcome text = runCli({"report", path});
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("1002: COM5 unit 3, COM6 unit 5"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("!!! interrupted, no result: COM6 unit 7 attempt 1, serial 1005"),
              std::string::npos)
        << text.out;
    std::remove(path.c_str());

    EXPECT_EQ(runCli({"report", path}).status, 5);
}

// 6 of 7 is 85.714...: printed as the two-place decimal, not as the double
// next to it (85.71000000000001).
TEST(CliReport, FiguresArePrintedAsTheirRoundedDecimals) {
    char pattern[] = "/tmp/quorvel-report-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = pattern;
    {
        std::ofstream log(path, std::ios::binary);
        for (int unit = 1; unit <= 7; ++unit) {
            log << record("10:00:0" + std::to_string(unit) + ".000", "COM5", unit != 7, unit, 1,
                          unit != 7 ? "" : "no device", std::to_string(1000 + unit));
        }
    }
    const CliOutcome outcome = runCli({"report", path, "--json"});
    std::remove(path.c_str());
    ASSERT_EQ(outcome.status, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("\"yield_percent\": 85.71,"), std::string::npos) << outcome.out;
}

}  // namespace
