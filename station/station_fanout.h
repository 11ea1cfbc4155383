// Hands every station event to several observers in turn: the command line's
// queue and the station page, for instance. Each observer keeps the rule that
// onEvent returns quickly, so the fan-out does too.
#pragma once

#include <vector>

#include "station/station_events.h"

class StationFanOut final : public StationObserver {
  public:
    explicit StationFanOut(std::vector<StationObserver*> observers)
        : observers_(std::move(observers)) {}
    void onEvent(const StationEvent& event) override {
        for (StationObserver* observer : observers_) observer->onEvent(event);
    }

  private:
    const std::vector<StationObserver*> observers_;
};
