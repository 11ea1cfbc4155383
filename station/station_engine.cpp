// The slots' loop: arming, removal, stop and abort, and what the operator sees.
#include "station/station_engine.h"

#include <chrono>

#include "station/engine_slot.h"

StationEngine::StationEngine(StationSettings settings, SlotHardware& hardware,
                             StationObserver& observer, StationClock clock)
    : settings_(std::move(settings)),
      hardware_(hardware),
      observer_(observer),
      clock_(std::move(clock)),
      nextUnit_(settings_.memory.lastUnit + 1) {
    for (std::size_t i = 0; i < settings_.ports.size(); ++i) {
        auto slot = std::make_unique<Slot>();
        if (i < settings_.memory.slots.size()) {
            const SlotMemory& memory = settings_.memory.slots[i];
            if (memory.board == SlotMemory::Board::Passed) {
                slot->phase = Slot::Phase::AwaitingRemoval;
                slot->unit = memory.unit;
                slot->serial = memory.serial;
            } else if (memory.board == SlotMemory::Board::HalfWritten) {
                slot->resume = memory;
            }
        }
        slots_.push_back(std::move(slot));
    }
}

StationEngine::~StationEngine() {
    abort("");
    for (std::thread& thread : threads_) thread.join();
}

void StationEngine::start() {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
        if (slots_[i]->phase == Slot::Phase::AwaitingRemoval) {
            showSlot(i, SlotState::Passed);  // from the log: take the board away first
        }
    }
    showTotals();
    if (settings_.outbox != nullptr) settings_.outbox->start(observer_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        slotsRunning_ = static_cast<int>(slots_.size());
    }
    for (std::size_t i = 0; i < slots_.size(); ++i)
        threads_.emplace_back([this, i] { runSlot(i); });
    if (slots_.empty()) runSlot(0);
}

void StationEngine::runSlot(std::size_t index) {
    if (index < slots_.size()) {
        while (const std::optional<std::uint32_t> due = step(index)) waitUntil(*due);
    }
    StationEvent ended;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (--slotsRunning_ > 0) return;
    }
    // The last slot has ended: what the station holds goes back, and its records out.
    if (settings_.serials != nullptr) settings_.serials->finish();
    if (settings_.outbox != nullptr) settings_.outbox->finish();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ended.passed = passed_;
        ended.failed = failed_;
    }
    ended.kind = StationEventKind::Ended;
    observer_.onEvent(ended);
    wake_.notify_all();
}

void StationEngine::waitUntil(std::uint32_t due) {
    const auto remaining = static_cast<std::int32_t>(due - clock_());
    if (remaining <= 0) return;
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(remaining), [this] { return armingStopped_; });
}

bool StationEngine::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!threads_.empty()) return slotsRunning_ == 0;
    for (const auto& slot : slots_) {
        if (slot->phase != Slot::Phase::Ended) return false;
    }
    return true;
}

StationEnd StationEngine::end() {
    std::lock_guard<std::mutex> lock(mutex_);
    StationEnd end = end_;
    end.passed = passed_;
    end.failed = failed_;
    return end;
}

void StationEngine::stop(const std::string& remark) { stopArming(remark); }

void StationEngine::abort(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (end_.aborted) return;
        end_.aborted = !text.empty() || slotsRunning_ > 0;
        armingStopped_ = true;
    }
    for (auto& slot : slots_) slot->halt = true;
    if (!text.empty()) note(text);
    wake_.notify_all();
}

std::optional<std::uint32_t> StationEngine::step(std::size_t index) {
    Slot& slot = *slots_[index];
    if (slot.phase == Slot::Phase::Ended) return std::nullopt;
    if (slot.halt.load()) return endSlot(index, slot.phase == Slot::Phase::Armed);
    if (slot.phase == Slot::Phase::Armed) return stepArmed(index);
    return stepAwaitingRemoval(index);
}

std::optional<std::uint32_t> StationEngine::stepArmed(std::size_t index) {
    if (armingStopped()) return endSlot(index, true);
    const std::uint32_t started = clock_();
    switch (hardware_.probe(index, settings_.armedReplyLimitMs)) {
        case Presence::Answered:
            switch (arm()) {
                case Arming::Go:
                    flashUnit(index);
                    if (slots_[index]->halt.load() || armingStopped()) return endSlot(index, false);
                    slots_[index]->phase = Slot::Phase::AwaitingRemoval;
                    slots_[index]->silent = false;
                    return clock_();
                case Arming::Never:
                    return endSlot(index, true);
                case Arming::NotNow:
                    showSlot(index, SlotState::WaitingForLimit);
                    break;
            }
            break;
        case Presence::Silent:
            showSlot(index, SlotState::Waiting);
            break;
        case Presence::PortAbsent:
            showSlot(index, SlotState::WaitingForPort);
            break;
        case Presence::PortInUse:
            showSlot(index, SlotState::PortInUse);
            break;
    }
    return started + settings_.probeIntervalMs;
}

// A board counts as removed once the probes have found no board for
// removalSilenceMs in a row, measured between the starts of the first and the
// latest silent probe: a shorter silence or a port gone for a moment (a hub's
// glitch) never arms the slot, so the board on it is never flashed twice.
std::optional<std::uint32_t> StationEngine::stepAwaitingRemoval(std::size_t index) {
    if (armingStopped()) return endSlot(index, false);
    Slot& slot = *slots_[index];
    const std::uint32_t started = clock_();
    const Presence presence = hardware_.probe(index, settings_.removalReplyLimitMs);
    if (presence == Presence::Silent || presence == Presence::PortAbsent) {
        if (!slot.silent) {
            slot.silent = true;
            slot.silentSince = started;
        } else if (started - slot.silentSince >= settings_.removalSilenceMs) {
            slot.phase = Slot::Phase::Armed;
            slot.unit.reset();
            slot.serial.reset();
            showSlot(index,
                     presence == Presence::Silent ? SlotState::Waiting : SlotState::WaitingForPort);
            return clock_();
        }
    } else {
        slot.silent = false;
    }
    return started + settings_.probeIntervalMs;
}

std::optional<std::uint32_t> StationEngine::endSlot(std::size_t index, bool showStopped) {
    // A slot that ends after a unit keeps the unit's verdict on show.
    if (showStopped) showSlot(index, SlotState::Stopped);
    slots_[index]->phase = Slot::Phase::Ended;
    return std::nullopt;
}

StationEngine::Arming StationEngine::arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (armingStopped_) return Arming::Never;
    if (settings_.limit > 0 && passed_ + inFlight_ >= settings_.limit) return Arming::NotNow;
    ++inFlight_;
    return Arming::Go;
}

void StationEngine::unitDone(bool passed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --inFlight_;
        (passed ? passed_ : failed_) += 1;
        if (settings_.limit > 0 && passed_ >= settings_.limit && !armingStopped_) {
            armingStopped_ = true;
            remark_ = "limit of " + std::to_string(settings_.limit) + " reached";
        }
    }
    wake_.notify_all();
    showTotals();
}

void StationEngine::stopArming(const std::string& remark) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (armingStopped_ && !remark_.empty()) return;
        armingStopped_ = true;
        remark_ = remark;
    }
    wake_.notify_all();
    showTotals();
}

bool StationEngine::armingStopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return armingStopped_;
}

void StationEngine::showSlot(std::size_t index, SlotState state, const std::string& reason) {
    Slot& slot = *slots_[index];
    // Probes repeat their finding every interval: show only a change.
    const bool repeated = slot.everShown && slot.shown == state && state != SlotState::Flashing &&
                          state != SlotState::Retrying;
    slot.shown = state;
    slot.everShown = true;
    if (repeated) return;
    StationEvent event;
    event.kind = StationEventKind::Slot;
    event.slot = index;
    event.port = settings_.ports[index];
    event.state = state;
    event.reason = reason;
    event.unit = slot.unit;
    event.serial = slot.serial;
    observer_.onEvent(event);
}

void StationEngine::showTotals() {
    StationEvent event;
    event.kind = StationEventKind::Totals;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        event.passed = passed_;
        event.failed = failed_;
        event.text = remark_;
    }
    observer_.onEvent(event);
}

void StationEngine::note(const std::string& text) {
    StationEvent event;
    event.kind = StationEventKind::Note;
    event.text = text;
    observer_.onEvent(event);
}

std::string slotStateText(SlotState state, const std::string& reason) {
    switch (state) {
        case SlotState::Waiting:
            return "waiting";
        case SlotState::WaitingForPort:
            return "waiting for the port";
        case SlotState::PortInUse:
            return "port in use by another program";
        case SlotState::WaitingForLimit:
            return "waiting (limit)";
        case SlotState::Flashing:
            return "flashing";
        case SlotState::Passed:
            return "PASS";
        case SlotState::Retrying:
        case SlotState::Failed:
            return "FAIL " + reason;
        case SlotState::Stopped:
            return "stopped";
    }
    return "";
}

std::string databaseStateText(bool online, int recordsWaiting) {
    if (online) return "database online";
    return "database offline, " + std::to_string(recordsWaiting) +
           (recordsWaiting == 1 ? " record waiting" : " records waiting");
}
