// The engine's own view of a slot and of the unit on it, shared by the files
// of StationEngine (station_engine.cpp, station_units.cpp) and nothing else.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "station/station_engine.h"

struct StationEngine::Slot {
    enum class Phase { Armed, AwaitingRemoval, Ended };
    Phase phase = Phase::Armed;
    std::atomic<bool> halt{false};     // ends the job in flight: abort, or a unit refused
    std::optional<SlotMemory> resume;  // a half-written board to flash again as its unit
    bool silent = false;               // the probes since `silentSince` found no board
    std::uint32_t silentSince = 0;
    SlotState shown = SlotState::Stopped;
    bool everShown = false;
    std::string refusal;  // why the engine ended the attempt in flight, for its record
    std::optional<std::int64_t> unit;
    std::optional<std::uint64_t> serial;
};

struct StationEngine::Unit {
    std::int64_t number = 0;
    std::optional<std::uint64_t> serial;
};
