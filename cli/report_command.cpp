// quorvel-cli report: what a station's record log, or a line's database, says
// (station/report_statistics), printed as text or JSON. A line that cannot be read is named on
// standard error and left out, so that a log cut short by a crash or a full disk still gives its
// report.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/report_html.h"
#include "cli/report_source.h"
#include "flashing/status.h"
#include "station/report_statistics.h"
#include "station/unit_record.h"

namespace {

// `value` to `decimals` places. Dividing by the power of ten, not multiplying
// by its inverse, gives the double nearest the decimal (93.1, not 93.10000000000001).
double rounded(double value, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(value * scale) / scale;
}

Json optionalJson(const std::optional<double>& value, int decimals) {
    return value ? Json(rounded(*value, decimals)) : Json();
}

template <typename Number>
Json numberJson(const std::optional<Number>& value) {
    return value ? Json(*value) : Json();
}

Json summaryJson(const Summary& summary) {
    Json reasons = Json::object();
    for (const auto& [reason, count] : summary.reasons) reasons[reason] = count;
    Json cycles;
    if (!summary.cycles.empty()) {
        cycles = {{"count", summary.cycles.size()},
                  {"median_seconds", optionalJson(summary.medianCycle(), 3)},
                  {"p95_seconds", optionalJson(summary.p95Cycle(), 3)}};
    }
    Json serials;
    if (summary.lowestSerial) {
        serials = {{"min", *summary.lowestSerial}, {"max", *summary.highestSerial}};
    }
    return {{"units", summary.units()},
            {"passed", summary.passed},
            {"failed", summary.failed},
            {"yield_percent", optionalJson(summary.yieldPercent(), 2)},
            {"boards_per_hour", optionalJson(summary.boardsPerHour, 2)},
            {"cycle_time", cycles},
            {"failure_reasons", reasons},
            {"serials", serials}};
}

Json mentionJson(const UnitMention& mention) {
    return {{"station", mention.station},
            {"port", mention.port},
            {"unit", numberJson(mention.unit)},
            {"line", mention.line}};
}

Json reportJson(const std::string& path, const Report& report) {
    Json stations = Json::array();
    for (const StationSummary& station : report.stations) {
        Json entry = {{"station", station.station}};
        entry.update(summaryJson(station.summary));
        stations.push_back(entry);
    }
    Json slots = Json::array();
    for (const SlotSummary& slot : report.slots) {
        Json entry = {{"station", slot.station}, {"port", slot.port}};
        entry.update(summaryJson(slot.summary));
        slots.push_back(entry);
    }
    Json interrupted = Json::array();
    for (const InterruptedUnit& unit : report.interrupted) {
        interrupted.push_back({{"station", unit.unit.station},
                               {"port", unit.unit.port},
                               {"unit", numberJson(unit.unit.unit)},
                               {"attempt", unit.attempt},
                               {"serial", numberJson(unit.serial)},
                               {"time", unit.time},
                               {"line", unit.unit.line}});
    }
    Json duplicates = Json::array();
    for (const DuplicateSerial& duplicate : report.duplicateSerials) {
        Json units = Json::array();
        for (const UnitMention& unit : duplicate.units) units.push_back(mentionJson(unit));
        duplicates.push_back({{"serial", duplicate.serial}, {"units", units}});
    }
    return {{"file", path},
            {"records", report.records},
            {"results", report.results},
            {"skipped_lines", report.skipped},
            {"overall", summaryJson(report.overall)},
            {"stations", stations},
            {"slots", slots},
            {"interrupted", interrupted},
            {"duplicate_serials", duplicates}};
}

// "1 line", "2 lines".
std::string counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A few lines per group, the label in the first column.
void printSummary(const std::string& label, const Summary& summary) {
    std::string line = "units " + std::to_string(summary.units()) + ", passed " +
                       std::to_string(summary.passed) + ", failed " +
                       std::to_string(summary.failed);
    char number[64];
    if (const std::optional<double> yield = summary.yieldPercent()) {
        std::snprintf(number, sizeof number, ", yield %.1f %%", *yield);
        line += number;
    }
    if (summary.boardsPerHour) {
        std::snprintf(number, sizeof number, ", %.1f boards/h", *summary.boardsPerHour);
        line += number;
    }
    std::printf("%-10s %s\n", label.c_str(), line.c_str());
    if (!summary.cycles.empty()) {
        std::printf("%-10s cycle median %.1f s, p95 %.1f s (%s)\n", "", *summary.medianCycle(),
                    *summary.p95Cycle(), counted(summary.cycles.size(), "cycle").c_str());
    }
    if (!summary.reasons.empty()) {
        std::string reasons;
        for (const auto& [reason, count] : summary.reasons) {
            reasons += (reasons.empty() ? "" : ", ") + std::to_string(count) + "x " + reason;
        }
        std::printf("%-10s failures: %s\n", "", reasons.c_str());
    }
    if (summary.lowestSerial) {
        std::printf("%-10s serials %llu..%llu\n", "",
                    static_cast<unsigned long long>(*summary.lowestSerial),
                    static_cast<unsigned long long>(*summary.highestSerial));
    }
}

std::string stationName(const std::string& station) {
    return station.empty() ? "(no name)" : station;
}

// "COM5 unit 3", with its station first when the log holds several.
std::string unitName(const UnitMention& mention, bool withStation) {
    return (withStation ? stationName(mention.station) + " " : "") + mention.port + " unit " +
           (mention.unit ? std::to_string(*mention.unit)
                         : "(line " + std::to_string(mention.line) + ")");
}

// Overall, then each slot; with several stations, a block per station.
void printSummaries(const Report& report) {
    printSummary("overall", report.overall);
    const bool severalStations = report.stations.size() > 1;
    for (const StationSummary& station : report.stations) {
        if (severalStations) {
            std::printf("\n");
            printSummary("station " + stationName(station.station), station.summary);
        }
        for (const SlotSummary& slot : report.slots) {
            if (slot.station != station.station) continue;
            printSummary((severalStations ? "  " : "") + slot.port, slot.summary);
        }
    }
}

void printWarnings(const Report& report) {
    const bool withStation = report.stations.size() > 1;
    for (const InterruptedUnit& unit : report.interrupted) {
        const std::string serial =
            unit.serial ? "serial " + std::to_string(*unit.serial) : "no serial number";
        std::printf("!!! interrupted, no result: %s attempt %lld, %s, started %s (line %zu)\n",
                    unitName(unit.unit, withStation).c_str(), static_cast<long long>(unit.attempt),
                    serial.c_str(), unit.time.c_str(), unit.unit.line);
    }
    if (!report.interrupted.empty()) {
        std::printf("!!!   a board stopped while being flashed may hold part of an image\n");
    }
    if (report.duplicateSerials.empty()) {
        if (report.overall.lowestSerial) std::printf("no serial number was given twice\n");
        return;
    }
    std::printf("!!! SERIAL NUMBERS GIVEN TO MORE THAN ONE UNIT:\n");
    for (const DuplicateSerial& duplicate : report.duplicateSerials) {
        std::string names;
        for (const UnitMention& unit : duplicate.units) {
            names += (names.empty() ? "" : ", ") + unitName(unit, withStation);
        }
        std::printf("!!!   %llu: %s\n", static_cast<unsigned long long>(duplicate.serial),
                    names.c_str());
    }
}

void printText(const std::string& path, const Report& report) {
    std::printf("%s: %s", path.c_str(), counted(report.records, "record").c_str());
    if (report.results != report.records) {
        std::printf(" (%s)", counted(report.results, "result").c_str());
    }
    if (!report.skipped.empty()) {
        std::printf(", %s skipped", counted(report.skipped.size(), "line").c_str());
    }
    std::printf("\n");
    printSummaries(report);
    printWarnings(report);
}

Json voidSerialsJson(const std::vector<VoidSerial>& serials) {
    Json list = Json::array();
    for (const VoidSerial& serial : serials) {
        list.push_back(
            {{"pool", serial.pool}, {"serial", serial.serial}, {"station", serial.station}});
    }
    return list;
}

// One line per pool and station: "void serial numbers: lot-7 (station A): 1005, 1006".
void printVoidSerials(const std::vector<VoidSerial>& serials) {
    if (serials.empty()) {
        std::printf("no serial number is void\n");
        return;
    }
    std::string line;
    std::string group;
    for (const VoidSerial& serial : serials) {
        const std::string name = serial.pool + " (station " + serial.station + ")";
        if (name != group) {
            if (!line.empty()) std::printf("%s\n", line.c_str());
            group = name;
            line = "void serial numbers, leased and never used: " + name + ": ";
        } else {
            line += ", ";
        }
        line += std::to_string(serial.serial);
    }
    std::printf("%s\n", line.c_str());
}

// The report as JSON; from a database, it names the database instead of a
// file and lists the numbers that were never used.
Json reportDocument(const ReportRecords& read, const Report& report) {
    Json document = reportJson(read.source, report);
    if (!read.fromDatabase) return document;
    Json fromDatabase = {{"database", read.source}};
    for (auto& [key, value] : document.items()) {
        if (key != "file") fromDatabase[key] = value;
    }
    fromDatabase["void_serials"] = voidSerialsJson(read.voidSerials);
    return fromDatabase;
}

int runReportCommand(const ReportOptions& options) {
    ReportRecords read;
    if (const int status = readReportRecords(options, read)) return status;
    const Report report = makeReport(read.lines);
    for (const DuplicateSerial& duplicate : report.duplicateSerials) {
        std::fprintf(stderr, "quorvel-cli: WARNING: serial number %llu was given to %zu units\n",
                     static_cast<unsigned long long>(duplicate.serial), duplicate.units.size());
    }
    const Json document = reportDocument(read, report);
    if (options.json) {
        printJson(document);
    } else {
        printText(read.source, report);
        if (read.fromDatabase) printVoidSerials(read.voidSerials);
    }
    if (!options.htmlPath.empty())
        return writeReportHtml(options.htmlPath, document, report, read.lines.records);
    return kStatusOk;
}

}  // namespace

Subcommand addReportCommand(CLI::App& app) {
    auto options = std::make_shared<ReportOptions>();
    CLI::App* report = app.add_subcommand(
        "report", "Summarise a station's record log, or the records of a line's database");
    CLI::Option* file = report->add_option("FILE", options->path, "The station's log (JSON Lines)");
    addDatabaseOptions(*report, options->db)->excludes(file);
    report->add_option("--station", options->station, "Only this station's records");
    report->add_option(
        "--since", options->since,
        "Only records at or after this UTC time: 2026-12-07 or 2026-12-07T06:00:00Z");
    report->add_option("--until", options->until, "Only records before this UTC time");
    report->add_flag("--json", options->json, "Print one JSON document");
    report->add_option("--html", options->htmlPath,
                       "Also write the report as one self-contained HTML page with charts");
    return {report, [options](CommandSignals&) {
                if (options->path.empty() && options->db.url.empty()) {
                    return usageError("report: give the log FILE or --db URL", options->json);
                }
                return runReportCommand(*options);
            }};
}
