// The figures the station's front ends and the report share: yield, boards
// per hour over a span, and boards per hour in fixed steps over a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "station/unit_record.h"

// The step of the boards-per-hour charts: five minutes.
constexpr std::int64_t kThroughputStepMs = 5 * 60 * 1000;

// Passed units in percent of all; none without units.
std::optional<double> yieldPercentOf(std::size_t passed, std::size_t failed);

// Boards per hour over `spanMs`; none for a span under a second, whose rate
// would say nothing.
std::optional<double> boardsPerHourOver(std::size_t boards, std::int64_t spanMs);

// Boards per hour in each step of `stepMs` from `startMs` to `endMs`, from the
// times the boards finished: the count of each step times the steps per hour.
// Times outside the span are left out; the last step may be partly run.
std::vector<double> boardsPerHourBySteps(const std::vector<std::int64_t>& finishedMs,
                                         std::int64_t startMs, std::int64_t endMs,
                                         std::int64_t stepMs = kThroughputStepMs);

// When each unit of the records finished: the time of its last result (the
// highest attempt, the later record on a tie), in no particular order.
std::vector<std::int64_t> unitFinishTimes(const std::vector<UnitRecord>& records);
