// A unit on a slot: its attempts and retries, its serial number, and its
// start and result records.
#include "flashing/messages.h"
#include "platform/system_text.h"
#include "station/engine_slot.h"
#include "station/station_engine.h"

bool retryableOutcome(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::SwitchRefused:
        case PortOutcome::NoBootLoader:
        case PortOutcome::TransferFailed:
        case PortOutcome::PortLost:
            return true;
        default:
            return false;
    }
}

void StationEngine::flashUnit(std::size_t index) {
    Slot& slot = *slots_[index];
    Unit unit;
    int firstAttempt = 1;
    if (slot.resume) {
        // The board was left half written by a station that ended mid-transfer.
        unit.number = slot.resume->unit;
        unit.serial = slot.resume->serial;
        firstAttempt = static_cast<int>(slot.resume->attempt) + 1;
        slot.resume.reset();
    } else {
        std::lock_guard<std::mutex> lock(mutex_);
        unit.number = nextUnit_++;
    }
    bool passed = false;
    std::string reason;
    for (int attemptNumber = firstAttempt;; ++attemptNumber) {
        slot.unit = unit.number;
        slot.serial = unit.serial;
        showSlot(index, SlotState::Flashing);
        const SlotFlash flashed = attempt(index, unit, attemptNumber);
        passed = flashed.result.outcome == PortOutcome::Done;
        reason = slot.refusal.empty() ? jobReasonText(flashed.result) : slot.refusal;
        if (passed || !retryableOutcome(flashed.result.outcome) ||
            attemptNumber - firstAttempt >= settings_.retries || slot.halt.load()) {
            break;
        }
        showSlot(index, SlotState::Retrying, reason);
        // Again only while the board stays on its slot.
        if (hardware_.probe(index, settings_.armedReplyLimitMs) != Presence::Answered) break;
    }
    showSlot(index, passed ? SlotState::Passed : SlotState::Failed, reason);
    unitDone(passed);
}

SlotFlash StationEngine::attempt(std::size_t index, Unit& unit, int attemptNumber) {
    Slot& slot = *slots_[index];
    slot.refusal.clear();
    hardware_.release(index);  // the job opens the port itself
    SlotFlashHooks hooks;
    hooks.beforeTransfer = [&] { return beforeTransfer(index, unit, attemptNumber); };
    hooks.progress = [this, index](int percent) {
        StationEvent event;
        event.kind = StationEventKind::Progress;
        event.slot = index;
        event.port = settings_.ports[index];
        event.percent = percent;
        observer_.onEvent(event);
    };
    SlotFlash flashed = hardware_.flash(index, hooks, &slot.halt);
    if (!flashed.note.empty()) note(settings_.ports[index] + ": " + flashed.note);
    UnitRecord record = newRecord(index, unit, attemptNumber, RecordEvent::Result);
    record.flash = flashed.flash;
    record.ok = flashed.result.outcome == PortOutcome::Done;
    const std::string reason = slot.refusal.empty() ? jobReasonText(flashed.result) : slot.refusal;
    if (!reason.empty()) record.reason = reason;
    writeRecord(index, std::move(record), &flashed.result);
    return flashed;
}

// The unit's serial number is taken and its start record synced before the
// first byte of the image: every number given is on record, even when the
// station dies in the middle of the transfer.
TransferStart StationEngine::beforeTransfer(std::size_t index, Unit& unit, int attemptNumber) {
    Slot& slot = *slots_[index];
    TransferStart start;
    if (settings_.serials != nullptr && !unit.serial && !takeSerial(index, unit)) return start;
    if (!writeRecord(index, newRecord(index, unit, attemptNumber, RecordEvent::Start))) {
        slot.refusal = "not in the log";
        slot.halt = true;
        return start;
    }
    slot.serial = unit.serial;
    showSlot(index, SlotState::Flashing);
    start.go = true;
    start.serial = unit.serial;
    return start;
}

bool StationEngine::takeSerial(std::size_t index, Unit& unit) {
    Slot& slot = *slots_[index];
    const SerialTake take = settings_.serials->take(settings_.highestSerial, &slot.halt);
    if (take.status == SerialStatus::Taken) {
        unit.serial = take.number;
        return true;
    }
    if (take.status != SerialStatus::Stopped) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            end_.serialsFailed = true;
        }
        const bool exhausted = take.status == SerialStatus::Exhausted;
        slot.refusal = exhausted ? "no serial number left" : "no serial number";
        note(settings_.serials->description() + ": " + take.error + "; no board starts any more");
        stopArming(exhausted ? "stopping: no serial number is left"
                             : "stopping: the serial numbers cannot be taken");
    }
    slot.halt = true;
    return false;
}

UnitRecord StationEngine::newRecord(std::size_t index, const Unit& unit, int attemptNumber,
                                    RecordEvent event) const {
    UnitRecord record;
    record.event = event;
    record.time = utcTimestamp();
    record.station = settings_.station;
    record.port = settings_.ports[index];
    record.unit = unit.number;
    record.attempt = attemptNumber;
    record.serial = unit.serial;
    record.imagePath = settings_.image.path;
    record.imageSha256 = settings_.image.sha256;
    record.imageFileSha256 = settings_.image.fileSha256;
    record.imageBytes = settings_.image.bytes;
    return record;
}

// Synced to the log before the event that shows it: a result on the screen is
// always on disk. The engine's lock is not held meanwhile.
bool StationEngine::writeRecord(std::size_t index, UnitRecord record, const FlashResult* result) {
    StationEvent event;
    event.kind = StationEventKind::Record;
    event.slot = index;
    event.port = settings_.ports[index];
    event.logged = settings_.log == nullptr;
    if (settings_.log != nullptr) {
        bool logFailed = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            logFailed = end_.recordsLost;
        }
        int osError = 0;
        std::string error;
        if (!logFailed) event.logged = settings_.log->append(recordLine(record), osError, error);
        if (event.logged && settings_.outbox != nullptr) settings_.outbox->add(record);
        if (!event.logged && !logFailed) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                end_.recordsLost = true;
            }
            note("the log " + settings_.logName + " cannot be written: " + error + " (error " +
                 std::to_string(osError) + "); no board starts any more");
            stopArming("stopping: the log cannot be written");
        }
    }
    event.record = std::move(record);
    if (result != nullptr) event.result = *result;
    observer_.onEvent(event);
    return event.logged;
}
