// quorvel-cli report: what a station's record log says, overall and per slot.
// The log is JSON Lines, one record per attempt at a unit; a line that cannot
// be read is named on standard error and left out, so that a log cut short by
// a crash or a full disk still gives its report.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/system.h"
#include "image/file_access.h"

namespace {

using Json = nlohmann::ordered_json;

struct Record {
    std::size_t line = 0;  // 1-based line number in the file
    std::int64_t timeMs = 0;
    std::string port;
    bool ok = false;
    std::optional<std::string> reason;
    std::optional<std::int64_t> unit;
    std::int64_t attempt = 1;
    std::optional<std::uint64_t> serial;

    // A unit is its running number on its slot; a record without one stands alone.
    std::string unitKey() const {
        return port + '\n' + (unit ? std::to_string(*unit) : "line " + std::to_string(line));
    }
};

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// "YYYY-MM-DDTHH:MM:SS[.fff]Z" as milliseconds since 1970 (UTC).
bool parseUtcMillis(const std::string& text, std::int64_t& millis) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                    &second, &used) != 6 ||
        used != 19 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    std::size_t at = 19;
    int fraction = 0;
    if (at < text.size() && text[at] == '.') {
        int digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            if (digits < 3) fraction = fraction * 10 + (text[at] - '0');
        }
        if (digits == 0) return false;
        for (; digits < 3; ++digits) fraction *= 10;
    }
    if (at + 1 != text.size() || text[at] != 'Z') return false;
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    millis = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + fraction;
    return true;
}

// False for a line that is not a record: not JSON, or without a readable
// `time`, `port` or `ok`. Other keys are optional and read when they have their type.
bool readRecord(const std::string& line, Record& record) {
    const Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) return false;
    const auto time = object.find("time");
    const auto port = object.find("port");
    const auto ok = object.find("ok");
    if (time == object.end() || !time->is_string() || port == object.end() || !port->is_string() ||
        ok == object.end() || !ok->is_boolean() ||
        !parseUtcMillis(time->get<std::string>(), record.timeMs)) {
        return false;
    }
    record.port = port->get<std::string>();
    record.ok = ok->get<bool>();
    const auto reason = object.find("reason");
    if (reason != object.end() && reason->is_string()) record.reason = reason->get<std::string>();
    const auto unit = object.find("unit");
    if (unit != object.end() && unit->is_number_integer()) record.unit = unit->get<std::int64_t>();
    const auto attempt = object.find("attempt");
    if (attempt != object.end() && attempt->is_number_integer()) {
        record.attempt = attempt->get<std::int64_t>();
    }
    const auto serial = object.find("serial");
    if (serial != object.end() && serial->is_number_unsigned()) {
        record.serial = serial->get<std::uint64_t>();
    }
    return true;
}

// The value below which half of the values lie (the mean of the middle two
// for an even count). `sorted` is ascending and not empty.
double median(const std::vector<double>& sorted) {
    const std::size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

// The nearest-rank percentile: the smallest value with at least `percent` %
// of the values at or below it, so it is always a cycle that happened.
double percentile(const std::vector<double>& sorted, double percent) {
    const auto rank = static_cast<std::size_t>(std::ceil(percent / 100 * sorted.size()));
    return sorted[std::min(std::max<std::size_t>(rank, 1), sorted.size()) - 1];
}

// Seconds between consecutive records of each slot, all slots' together, ascending.
std::vector<double> cycleSeconds(const std::vector<const Record*>& records) {
    std::map<std::string, std::vector<std::int64_t>> timesBySlot;
    for (const Record* record : records) timesBySlot[record->port].push_back(record->timeMs);
    std::vector<double> cycles;
    for (auto& [port, times] : timesBySlot) {
        std::sort(times.begin(), times.end());
        for (std::size_t i = 1; i < times.size(); ++i) {
            cycles.push_back(static_cast<double>(times[i] - times[i - 1]) / 1000);
        }
    }
    std::sort(cycles.begin(), cycles.end());
    return cycles;
}

double rounded(double value, double step) { return std::round(value / step) * step; }

// The statistics of a group of records (one slot, or all of them).
struct Summary {
    std::size_t passed = 0;
    std::size_t failed = 0;
    std::optional<double> boardsPerHour;
    std::vector<double> cycles;
    std::vector<std::pair<std::string, std::size_t>> reasons;  // most frequent first
    std::optional<std::uint64_t> lowestSerial;
    std::optional<std::uint64_t> highestSerial;
};

Summary summarize(const std::vector<const Record*>& records) {
    Summary summary;
    // A unit counts by its last attempt: the highest attempt number, the later line on a tie.
    std::map<std::string, const Record*> lastAttempts;
    std::map<std::string, std::size_t> reasonCounts;
    std::int64_t first = INT64_MAX;
    std::int64_t last = INT64_MIN;
    for (const Record* record : records) {
        const Record*& lastAttempt = lastAttempts[record->unitKey()];
        if (lastAttempt == nullptr || record->attempt >= lastAttempt->attempt) lastAttempt = record;
        if (!record->ok) ++reasonCounts[record->reason.value_or("(no reason given)")];
        if (record->serial) {
            summary.lowestSerial =
                std::min(summary.lowestSerial.value_or(UINT64_MAX), *record->serial);
            summary.highestSerial = std::max(summary.highestSerial.value_or(0), *record->serial);
        }
        first = std::min(first, record->timeMs);
        last = std::max(last, record->timeMs);
    }
    for (const auto& [key, record] : lastAttempts) ++(record->ok ? summary.passed : summary.failed);
    if (!records.empty() && last - first >= 1000) {
        const double hours = static_cast<double>(last - first) / 3600000;
        summary.boardsPerHour = static_cast<double>(lastAttempts.size()) / hours;
    }
    summary.cycles = cycleSeconds(records);
    summary.reasons.assign(reasonCounts.begin(), reasonCounts.end());
    std::stable_sort(summary.reasons.begin(), summary.reasons.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return summary;
}

std::optional<double> yieldPercent(const Summary& summary) {
    const std::size_t units = summary.passed + summary.failed;
    if (units == 0) return std::nullopt;
    return 100.0 * static_cast<double>(summary.passed) / static_cast<double>(units);
}

Json summaryJson(const Summary& summary) {
    const std::optional<double> yield = yieldPercent(summary);
    Json reasons = Json::object();
    for (const auto& [reason, count] : summary.reasons) reasons[reason] = count;
    Json cycles;
    if (!summary.cycles.empty()) {
        cycles = {{"count", summary.cycles.size()},
                  {"median_seconds", rounded(median(summary.cycles), 0.001)},
                  {"p95_seconds", rounded(percentile(summary.cycles, 95), 0.001)}};
    }
    Json serials;
    if (summary.lowestSerial)
        serials = {{"min", *summary.lowestSerial}, {"max", *summary.highestSerial}};
    return {{"units", summary.passed + summary.failed},
            {"passed", summary.passed},
            {"failed", summary.failed},
            {"yield_percent", yield ? Json(rounded(*yield, 0.01)) : Json()},
            {"boards_per_hour",
             summary.boardsPerHour ? Json(rounded(*summary.boardsPerHour, 0.01)) : Json()},
            {"cycle_time", cycles},
            {"failure_reasons", reasons},
            {"serials", serials}};
}

// "1 line", "2 lines".
std::string counted(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// A few lines per group, the name in the first column.
void printSummary(const std::string& name, const Summary& summary) {
    std::string line = "units " + std::to_string(summary.passed + summary.failed) + ", passed " +
                       std::to_string(summary.passed) + ", failed " +
                       std::to_string(summary.failed);
    char number[64];
    if (const std::optional<double> yield = yieldPercent(summary)) {
        std::snprintf(number, sizeof number, ", yield %.1f %%", *yield);
        line += number;
    }
    if (summary.boardsPerHour) {
        std::snprintf(number, sizeof number, ", %.1f boards/h", *summary.boardsPerHour);
        line += number;
    }
    std::printf("%-10s %s\n", name.c_str(), line.c_str());
    if (!summary.cycles.empty()) {
        std::printf("%-10s cycle median %.1f s, p95 %.1f s (%s)\n", "", median(summary.cycles),
                    percentile(summary.cycles, 95),
                    counted(summary.cycles.size(), "cycle").c_str());
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

// Serial numbers recorded for more than one unit, each with those units in log order.
std::map<std::uint64_t, std::vector<const Record*>> duplicateSerials(
    const std::vector<Record>& records) {
    std::map<std::uint64_t, std::vector<const Record*>> unitsBySerial;
    for (const Record& record : records) {
        if (!record.serial) continue;
        std::vector<const Record*>& units = unitsBySerial[*record.serial];
        const bool known = std::any_of(units.begin(), units.end(), [&](const Record* other) {
            return other->unitKey() == record.unitKey();
        });
        if (!known) units.push_back(&record);
    }
    std::map<std::uint64_t, std::vector<const Record*>> duplicates;
    for (auto& [serial, units] : unitsBySerial) {
        if (units.size() > 1) duplicates.emplace(serial, std::move(units));
    }
    return duplicates;
}

std::string unitName(const Record& record) {
    return record.port + " unit " +
           (record.unit ? std::to_string(*record.unit)
                        : "(line " + std::to_string(record.line) + ")");
}

bool readWholeFile(const std::string& path, std::string& content) {
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) return false;
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace

int runReportCommand(const std::string& path, bool json) {
    std::string content;
    if (!readWholeFile(path, content)) {
        std::fprintf(stderr, "quorvel-cli: cannot read the station log %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return kExitImage;
    }

    std::vector<Record> records;
    std::vector<std::size_t> skipped;
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        Record record;
        record.line = lineNumber;
        if (readRecord(line, record)) {
            records.push_back(std::move(record));
        } else {
            std::fprintf(stderr, "line %zu: cannot be read, skipped\n", lineNumber);
            skipped.push_back(lineNumber);
        }
    }

    std::vector<const Record*> all;
    std::vector<std::string> ports;  // in order of first appearance
    std::map<std::string, std::vector<const Record*>> bySlot;
    for (const Record& record : records) {
        all.push_back(&record);
        if (bySlot.count(record.port) == 0) ports.push_back(record.port);
        bySlot[record.port].push_back(&record);
    }
    const Summary overall = summarize(all);
    const auto duplicates = duplicateSerials(records);
    for (const auto& [serial, units] : duplicates) {
        std::fprintf(stderr, "quorvel-cli: WARNING: serial number %llu was given to %zu units\n",
                     static_cast<unsigned long long>(serial), units.size());
    }

    if (json) {
        Json slots = Json::array();
        for (const std::string& port : ports) {
            Json slot = {{"port", port}};
            slot.update(summaryJson(summarize(bySlot[port])));
            slots.push_back(slot);
        }
        Json duplicateList = Json::array();
        for (const auto& [serial, units] : duplicates) {
            Json unitList = Json::array();
            for (const Record* unit : units) {
                unitList.push_back({{"port", unit->port},
                                    {"unit", unit->unit ? Json(*unit->unit) : Json()},
                                    {"line", unit->line}});
            }
            duplicateList.push_back({{"serial", serial}, {"units", unitList}});
        }
        const Json document = {{"file", path},
                               {"records", records.size()},
                               {"skipped_lines", skipped},
                               {"overall", summaryJson(overall)},
                               {"slots", slots},
                               {"duplicate_serials", duplicateList}};
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
        return kExitSuccess;
    }

    std::printf("%s: %s", path.c_str(), counted(records.size(), "record").c_str());
    if (!skipped.empty()) std::printf(", %s skipped", counted(skipped.size(), "line").c_str());
    std::printf("\n");
    printSummary("overall", overall);
    for (const std::string& port : ports) printSummary(port, summarize(bySlot[port]));
    if (duplicates.empty()) {
        if (overall.lowestSerial) std::printf("no serial number was given twice\n");
    } else {
        std::printf("!!! SERIAL NUMBERS GIVEN TO MORE THAN ONE UNIT:\n");
        for (const auto& [serial, units] : duplicates) {
            std::string names;
            for (const Record* unit : units) names += (names.empty() ? "" : ", ") + unitName(*unit);
            std::printf("!!!   %llu: %s\n", static_cast<unsigned long long>(serial), names.c_str());
        }
    }
    return kExitSuccess;
}
