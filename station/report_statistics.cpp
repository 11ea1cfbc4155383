#include "station/report_statistics.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "station/throughput.h"

namespace {

using Records = std::vector<const UnitRecord*>;

std::string slotKey(const UnitRecord& record) { return record.station + '\n' + record.port; }

// The value below which half of the values lie (the mean of the middle two
// for an even count). `sorted` is ascending and not empty.
double median(const std::vector<double>& sorted) {
    const std::size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
}

double percentile(const std::vector<double>& sorted, double percent) {
    const auto rank = static_cast<std::size_t>(std::ceil(percent / 100 * sorted.size()));
    return sorted[std::min(std::max<std::size_t>(rank, 1), sorted.size()) - 1];
}

std::vector<double> cycleSeconds(const Records& results) {
    std::map<std::string, std::vector<std::int64_t>> timesBySlot;
    for (const UnitRecord* record : results)
        timesBySlot[slotKey(*record)].push_back(record->timeMs);
    std::vector<double> cycles;
    for (auto& [slot, times] : timesBySlot) {
        std::sort(times.begin(), times.end());
        for (std::size_t i = 1; i < times.size(); ++i) {
            cycles.push_back(static_cast<double>(times[i] - times[i - 1]) / 1000);
        }
    }
    std::sort(cycles.begin(), cycles.end());
    return cycles;
}

// Each unit's last result: the highest attempt, the later line on a tie.
std::map<std::string, const UnitRecord*> lastResults(const Records& results) {
    std::map<std::string, const UnitRecord*> last;
    for (const UnitRecord* record : results) {
        const UnitRecord*& known = last[record->unitKey()];
        if (known == nullptr || record->attempt >= known->attempt) known = record;
    }
    return last;
}

std::vector<std::pair<std::string, std::size_t>> failureReasons(const Records& results) {
    std::map<std::string, std::size_t> counts;
    for (const UnitRecord* record : results) {
        if (!record->ok) ++counts[record->reason.value_or("(no reason given)")];
    }
    std::vector<std::pair<std::string, std::size_t>> reasons(counts.begin(), counts.end());
    std::stable_sort(reasons.begin(), reasons.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    return reasons;
}

Summary summarize(const Records& records) {
    Records results;
    for (const UnitRecord* record : records) {
        if (record->event == RecordEvent::Result) results.push_back(record);
    }
    Summary summary;
    const auto units = lastResults(results);
    for (const auto& [key, record] : units) ++(record->ok ? summary.passed : summary.failed);
    std::int64_t first = INT64_MAX;
    std::int64_t last = INT64_MIN;
    for (const UnitRecord* record : results) {
        first = std::min(first, record->timeMs);
        last = std::max(last, record->timeMs);
        if (!record->serial) continue;
        summary.lowestSerial = std::min(summary.lowestSerial.value_or(UINT64_MAX), *record->serial);
        summary.highestSerial = std::max(summary.highestSerial.value_or(0), *record->serial);
    }
    if (!results.empty()) summary.boardsPerHour = boardsPerHourOver(units.size(), last - first);
    summary.cycles = cycleSeconds(results);
    summary.reasons = failureReasons(results);
    return summary;
}

// The records by `keyOf`, the groups in order of first appearance.
template <typename KeyOf>
std::vector<Records> groupsOf(const Records& records, KeyOf keyOf) {
    std::vector<Records> groups;
    std::map<std::string, std::size_t> indexByKey;
    for (const UnitRecord* record : records) {
        const auto [found, added] = indexByKey.emplace(keyOf(*record), groups.size());
        if (added) groups.emplace_back();
        groups[found->second].push_back(record);
    }
    return groups;
}

UnitMention mentionOf(const UnitRecord& record) {
    return {record.station, record.port, record.unit, record.line};
}

std::vector<DuplicateSerial> duplicateSerials(const Records& records) {
    // Per serial number, the first record of each unit that carries it.
    std::map<std::uint64_t, Records> unitsBySerial;
    for (const UnitRecord* record : records) {
        if (!record->serial) continue;
        Records& units = unitsBySerial[*record->serial];
        const bool known = std::any_of(units.begin(), units.end(), [&](const UnitRecord* other) {
            return other->unitKey() == record->unitKey();
        });
        if (!known) units.push_back(record);
    }
    std::vector<DuplicateSerial> duplicates;
    for (const auto& [serial, units] : unitsBySerial) {
        if (units.size() < 2) continue;
        DuplicateSerial duplicate{serial, {}};
        for (const UnitRecord* unit : units) duplicate.units.push_back(mentionOf(*unit));
        duplicates.push_back(std::move(duplicate));
    }
    return duplicates;
}

std::vector<InterruptedUnit> interruptedUnits(const Records& records) {
    // From the end of the log back: per unit, the highest attempt with a result so far.
    std::map<std::string, std::int64_t> answeredUpTo;
    std::vector<InterruptedUnit> interrupted;
    for (auto at = records.rbegin(); at != records.rend(); ++at) {
        const UnitRecord& record = **at;
        const std::string key = record.unitKey();
        const auto answered = answeredUpTo.find(key);
        if (record.event == RecordEvent::Result) {
            if (answered == answeredUpTo.end() || answered->second < record.attempt) {
                answeredUpTo[key] = record.attempt;
            }
        } else if (answered == answeredUpTo.end() || answered->second < record.attempt) {
            interrupted.push_back({mentionOf(record), record.attempt, record.serial, record.time});
        }
    }
    std::reverse(interrupted.begin(), interrupted.end());
    return interrupted;
}

}  // namespace

std::optional<double> Summary::yieldPercent() const { return yieldPercentOf(passed, failed); }

std::optional<double> Summary::medianCycle() const {
    if (cycles.empty()) return std::nullopt;
    return median(cycles);
}

std::optional<double> Summary::p95Cycle() const {
    if (cycles.empty()) return std::nullopt;
    return percentile(cycles, 95);
}

Report makeReport(const RecordLines& log) {
    Records records;
    for (const UnitRecord& record : log.records) records.push_back(&record);
    Report report;
    report.records = records.size();
    report.results = static_cast<std::size_t>(std::count_if(
        records.begin(), records.end(),
        [](const UnitRecord* record) { return record->event == RecordEvent::Result; }));
    report.skipped = log.skipped;
    report.overall = summarize(records);
    for (const Records& group : groupsOf(records, [](const UnitRecord& r) { return r.station; })) {
        report.stations.push_back({group.front()->station, summarize(group)});
    }
    for (const Records& group : groupsOf(records, slotKey)) {
        report.slots.push_back({group.front()->station, group.front()->port, summarize(group)});
    }
    report.duplicateSerials = duplicateSerials(records);
    report.interrupted = interruptedUnits(records);
    return report;
}
