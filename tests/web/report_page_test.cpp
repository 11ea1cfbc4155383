// The report's page: one file with everything inside, whose data no text in a
// log can break out of.
#include "web/report_page.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using Json = nlohmann::ordered_json;

const char* const kHostile = "</script><script>alert(1)</script><!--";

std::vector<UnitRecord> hostileRecords() {
    std::vector<UnitRecord> records(2);
    for (UnitRecord& record : records) {
        record.port = kHostile;
        record.station = kHostile;
        record.unit = 1;
        record.reason = kHostile;
    }
    records[0].event = RecordEvent::Start;
    records[0].timeMs = 1'800'000'000'000;
    records[1].timeMs = 1'800'000'900'000;  // 15 minutes later
    return records;
}

// The text of the page's data element, parsed back.
Json pageData(const std::string& page) {
    const std::string open = "<script type=\"application/json\" id=\"report-data\">";
    const std::size_t from = page.find(open);
    EXPECT_NE(from, std::string::npos);
    const std::size_t begin = from + open.size();
    return Json::parse(page.substr(begin, page.find("</script>", begin) - begin));
}

TEST(ReportPage, HoldsTheFiguresAndSeriesAndNothingFromOutside) {
    const std::vector<UnitRecord> records = hostileRecords();
    RecordLines lines;
    lines.records = records;
    const Report report = makeReport(lines);
    const Json figures = {{"file", kHostile}, {"overall", {{"passed", 0}, {"failed", 1}}}};
    const std::string page = reportPage(figures, report, records);

    // Every script is inline, and nothing names another origin.
    EXPECT_EQ(page.find("src="), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_NE(page.find("Chart.js v3"), std::string::npos);
    EXPECT_EQ(page.find('@' + std::string("REPORT_")), std::string::npos);

    // The data comes back whole, and the hostile text never shows raw.
    const Json data = pageData(page);
    EXPECT_EQ(data["report"], figures);
    EXPECT_EQ(data["boards_per_hour_by_step"]["start_ms"], records[0].timeMs);
    EXPECT_EQ(data["boards_per_hour_by_step"]["values"], Json({0.0, 0.0, 0.0, 12.0}));
    EXPECT_EQ(page.find(kHostile), std::string::npos);
    EXPECT_EQ(std::regex_search(page, std::regex("<script>alert")), false);
}

TEST(ReportPage, ScriptSafeJsonReadsBackTheSame) {
    const Json document = {{"a", "</SCRIPT>"}, {"b", "<!-- x -->"}, {"c", {1, 2.5, nullptr}}};
    const std::string safe = scriptSafeJson(document);
    EXPECT_EQ(safe.find('<'), std::string::npos);
    EXPECT_EQ(Json::parse(safe), document);
}

}  // namespace
