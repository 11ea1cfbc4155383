#include "station/event_queue.h"

#include <chrono>

void EventQueue::onEvent(const StationEvent& event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (event.kind == StationEventKind::Progress) {
            const auto [pending, fresh] = pendingPercent_.emplace(event.slot, event.percent);
            if (!fresh) {
                pending->second = event.percent;
                return;
            }
        }
        events_.push_back(event);
    }
    if (wakeForProgress_ || event.kind != StationEventKind::Progress) arrived_.notify_one();
}

bool EventQueue::next(StationEvent& event, std::uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (ended_) {
        event = endEvent_;
        return true;
    }
    if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !events_.empty(); })) {
        return false;
    }
    event = std::move(events_.front());
    events_.pop_front();
    if (event.kind == StationEventKind::Progress) {
        event.percent = pendingPercent_[event.slot];
        pendingPercent_.erase(event.slot);
    }
    if (event.kind == StationEventKind::Ended) {
        ended_ = true;
        endEvent_ = event;
    }
    return true;
}
