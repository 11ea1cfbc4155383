#include "station/throughput.h"

#include <map>
#include <string>

std::optional<double> yieldPercentOf(std::size_t passed, std::size_t failed) {
    if (passed + failed == 0) return std::nullopt;
    return 100.0 * static_cast<double>(passed) / static_cast<double>(passed + failed);
}

std::optional<double> boardsPerHourOver(std::size_t boards, std::int64_t spanMs) {
    if (spanMs < 1000) return std::nullopt;
    return static_cast<double>(boards) * 3600000.0 / static_cast<double>(spanMs);
}

std::vector<double> boardsPerHourBySteps(const std::vector<std::int64_t>& finishedMs,
                                         std::int64_t startMs, std::int64_t endMs,
                                         std::int64_t stepMs) {
    if (stepMs <= 0 || endMs < startMs) return {};
    const auto steps = static_cast<std::size_t>((endMs - startMs) / stepMs + 1);
    std::vector<double> counts(steps, 0.0);
    for (const std::int64_t at : finishedMs) {
        if (at < startMs || at > endMs) continue;
        counts[static_cast<std::size_t>((at - startMs) / stepMs)] += 1;
    }
    const double stepsPerHour = 3600000.0 / static_cast<double>(stepMs);
    for (double& count : counts) count *= stepsPerHour;
    return counts;
}

std::vector<std::int64_t> unitFinishTimes(const std::vector<UnitRecord>& records) {
    std::map<std::string, const UnitRecord*> last;
    for (const UnitRecord& record : records) {
        if (record.event != RecordEvent::Result) continue;
        const UnitRecord*& known = last[record.unitKey()];
        if (known == nullptr || record.attempt >= known->attempt) known = &record;
    }
    std::vector<std::int64_t> times;
    for (const auto& [key, record] : last) times.push_back(record->timeMs);
    return times;
}
