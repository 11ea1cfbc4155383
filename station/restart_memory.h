// What a station's log says when the station starts again: the highest unit
// number it gave, and for each of its slots (port name plus station name) the
// board that the last event left there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "station/unit_record.h"

struct SlotMemory {
    enum class Board {
        Unknown,      // arm as usual
        Passed,       // the board there was flashed: wait for its removal first
        HalfWritten,  // a transfer was cut short: flash it again as the same unit
    };
    Board board = Board::Unknown;
    std::int64_t unit = 0;
    std::int64_t attempt = 0;  // the attempt that was cut short
    std::optional<std::uint64_t> serial;
};

struct StationMemory {
    std::int64_t lastUnit = 0;
    std::vector<SlotMemory> slots;  // one per port, in the order given
};

// `records` in log order.
StationMemory rememberStation(const std::vector<UnitRecord>& records, const std::string& station,
                              const std::vector<std::string>& ports);
