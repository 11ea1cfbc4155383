#include "web/report_page.h"

#include <algorithm>

#include "station/throughput.h"
#include "web/web_assets.h"

namespace {

using Json = nlohmann::ordered_json;

Json chartSeries(const Report& report, const std::vector<UnitRecord>& records) {
    std::int64_t first = INT64_MAX;
    std::int64_t last = INT64_MIN;
    for (const UnitRecord& record : records) {
        first = std::min(first, record.timeMs);
        if (record.event == RecordEvent::Result) last = std::max(last, record.timeMs);
    }
    Json throughput = {{"step_seconds", kThroughputStepMs / 1000},
                       {"start_ms", nullptr},
                       {"values", Json::array()}};
    if (last >= first) {
        throughput["start_ms"] = first;
        throughput["values"] = boardsPerHourBySteps(unitFinishTimes(records), first, last);
    }
    return {{"cycles_seconds", report.overall.cycles}, {"boards_per_hour_by_step", throughput}};
}

// The template's @NAME@ marks replaced by their texts, in one pass over the
// template alone, so that nothing inserted is read as a mark.
std::string fillTemplate(const std::string& page,
                         const std::vector<std::pair<std::string, std::string>>& fills) {
    std::string out;
    std::size_t at = 0;
    while (at < page.size()) {
        const std::size_t mark = page.find('@', at);
        if (mark == std::string::npos) break;
        const std::size_t end = page.find('@', mark + 1);
        if (end == std::string::npos) break;
        const std::string name = page.substr(mark + 1, end - mark - 1);
        const auto fill = std::find_if(fills.begin(), fills.end(),
                                       [&](const auto& entry) { return entry.first == name; });
        if (fill == fills.end()) {
            out.append(page, at, end - at);
            at = end;
            continue;
        }
        out.append(page, at, mark - at);
        out += fill->second;
        at = end + 1;
    }
    out.append(page, at, std::string::npos);
    return out;
}

}  // namespace

std::string scriptSafeJson(const Json& document) {
    const std::string text = document.dump(-1, ' ', false, Json::error_handler_t::replace);
    std::string safe;
    safe.reserve(text.size());
    // "<" only occurs inside JSON strings, where \u003c means the same.
    for (const char c : text) {
        if (c == '<') {
            safe += "\\u003c";
        } else {
            safe += c;
        }
    }
    return safe;
}

std::string reportPage(const Json& figures, const Report& report,
                       const std::vector<UnitRecord>& records) {
    Json data = {{"report", figures}};
    data.update(chartSeries(report, records));
    return fillTemplate(webAssetText("report.html"), {{"REPORT_CSS", webAssetText("report.css")},
                                                      {"REPORT_DATA", scriptSafeJson(data)},
                                                      {"CHART_JS", webAssetText("chart.min.js")},
                                                      {"CHARTS_JS", webAssetText("charts.js")},
                                                      {"REPORT_JS", webAssetText("report.js")}});
}
