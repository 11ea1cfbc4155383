// The station's events queued for a front end that takes them on a thread of
// its own (a terminal, a C caller, Python). A transfer's progress is folded:
// while a slot's progress event waits, a newer percentage replaces it, so a
// stalled reader holds at most one per slot and never the whole transfer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>

#include "station/station_events.h"

class EventQueue final : public StationObserver {
  public:
    // `wakeForProgress` false: a progress event waits for the reader's next
    // wake (another event, or its time-out) instead of waking it, which spares
    // a wake-up per data packet and board for a reader that redraws on a timer.
    explicit EventQueue(bool wakeForProgress = true) : wakeForProgress_(wakeForProgress) {}
    void onEvent(const StationEvent& event) override;
    // The next event, waiting at most `timeoutMs`; false when none came. Once
    // the Ended event has been taken, it is given again at once.
    bool next(StationEvent& event, std::uint32_t timeoutMs);

  private:
    const bool wakeForProgress_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<StationEvent> events_;
    std::map<std::size_t, int> pendingPercent_;  // per slot, while its Progress event waits
    bool ended_ = false;
    StationEvent endEvent_;
};
