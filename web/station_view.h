// What the station page shows, kept from the station's events: each slot's
// state, progress, unit and last result, the counts, boards per hour in
// five-minute steps, failure reasons and the database's state. The engine's
// threads update it under a short lock and are never held by a page: the
// serving side takes a snapshot as JSON when it has been told of a change.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "station/station_events.h"

struct StationPageFacts {
    std::string station;
    std::vector<std::string> ports;  // the slots, in order
    std::string imagePath;
    std::string imageSha256;
    std::int64_t imageBytes = 0;
};

// Milliseconds since 1970 (UTC).
using WallClock = std::function<std::int64_t()>;
std::int64_t wallClockNow();

class StationView final : public StationObserver {
  public:
    // `changed` is called after each change, outside the lock, on the event's
    // thread: `significant` is false for a progress step alone.
    StationView(StationPageFacts facts, WallClock clock,
                std::function<void(bool significant)> changed);

    void onEvent(const StationEvent& event) override;
    // The page's state as /api/state gives it.
    nlohmann::ordered_json state() const;

  private:
    struct LastResult {
        bool passed = false;
        std::string reason;
        std::optional<std::int64_t> unit;
        std::optional<std::uint64_t> serial;
    };
    struct Slot {
        std::string port;
        SlotState state = SlotState::Waiting;
        std::string reason;
        int percent = -1;
        std::optional<std::int64_t> unit;
        std::optional<std::uint64_t> serial;
        std::optional<LastResult> lastResult;
    };

    void apply(const StationEvent& event);
    void applySlot(Slot& slot, const StationEvent& event);
    void applyTotals(const StationEvent& event);
    static nlohmann::ordered_json slotJson(const Slot& slot);

    const StationPageFacts facts_;
    const WallClock clock_;
    const std::function<void(bool)> changed_;
    const std::int64_t startedMs_;

    mutable std::mutex mutex_;  // guards what follows
    std::vector<Slot> slots_;
    int passed_ = 0;
    int failed_ = 0;
    std::string remark_;
    std::vector<std::int64_t> finishedMs_;  // when each board passed or failed
    std::map<std::string, int> reasons_;    // failed attempts by reason
    std::vector<std::string> notes_;        // the latest few
    std::optional<bool> databaseOnline_;    // none until the station reports a database
    int recordsWaiting_ = 0;
    bool ended_ = false;
    std::optional<std::int64_t> endedMs_;
};

// A stable name for a slot state, for the page's styles: "passed", "waiting_for_port".
const char* slotStateKey(SlotState state);
