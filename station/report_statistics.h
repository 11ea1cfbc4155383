// What a station's record log says, as data: overall, per station and per slot
// (a station's port), the serial numbers given to more than one unit, and the
// attempts that started but never ended. `quorvel-cli report` prints it as
// text or JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "station/unit_record.h"

// The results of a group of records: all of them, one station's or one
// slot's. Start records are not attempts and count for none of this.
struct Summary {
    // Units by their last result: the highest attempt, the later line on a tie.
    std::size_t passed = 0;
    std::size_t failed = 0;
    // Units per hour over the span of their results; none for a span under a second.
    std::optional<double> boardsPerHour;
    // Seconds between consecutive results on each slot, all slots' together, ascending.
    std::vector<double> cycles;
    // Failed attempts (retried ones too) by reason, the most frequent first.
    std::vector<std::pair<std::string, std::size_t>> reasons;
    // The range of the serial numbers in the results.
    std::optional<std::uint64_t> lowestSerial;
    std::optional<std::uint64_t> highestSerial;

    std::size_t units() const { return passed + failed; }
    std::optional<double> yieldPercent() const;
    std::optional<double> medianCycle() const;
    // The nearest rank: the shortest cycle with 95 % of them at or below it,
    // so it is always a cycle that happened.
    std::optional<double> p95Cycle() const;
};

struct StationSummary {
    std::string station;  // "" in logs older than station names
    Summary summary;
};

struct SlotSummary {
    std::string station;
    std::string port;
    Summary summary;
};

// A unit as one line of the log names it.
struct UnitMention {
    std::string station;
    std::string port;
    std::optional<std::int64_t> unit;  // none in a record without a number
    std::size_t line = 0;
};

struct DuplicateSerial {
    std::uint64_t serial = 0;
    std::vector<UnitMention> units;  // in log order, each at its first record with the number
};

// A start record that no result answers: the station stopped (a crash, a
// power cut) while the board was being flashed, so it may hold part of an
// image. A later result of the same unit, at the same or a higher attempt,
// answers it: the unit was flashed again.
struct InterruptedUnit {
    UnitMention unit;  // at the start record
    std::int64_t attempt = 1;
    std::optional<std::uint64_t> serial;
    std::string time;
};

struct Report {
    std::size_t records = 0;  // start and result records
    std::size_t results = 0;
    std::vector<std::size_t> skipped;  // the lines that are not records
    Summary overall;
    // Every station and slot with a record, in order of first appearance; one
    // whose boards never finished has a summary of no units.
    std::vector<StationSummary> stations;
    std::vector<SlotSummary> slots;
    std::vector<DuplicateSerial> duplicateSerials;  // ascending by serial number
    std::vector<InterruptedUnit> interrupted;       // in log order
};

// The report of a log whose records are in log order, as parseRecordLines gives them.
Report makeReport(const RecordLines& log);
