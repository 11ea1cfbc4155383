#include "capi/station_event_values.h"

#include "capi/result_values.h"

namespace {

int slotNumber(SlotState state) {
    switch (state) {
        case SlotState::Waiting:
            return QUORVEL_SLOT_WAITING;
        case SlotState::WaitingForPort:
            return QUORVEL_SLOT_WAITING_FOR_PORT;
        case SlotState::PortInUse:
            return QUORVEL_SLOT_PORT_IN_USE;
        case SlotState::WaitingForLimit:
            return QUORVEL_SLOT_WAITING_FOR_LIMIT;
        case SlotState::Flashing:
            return QUORVEL_SLOT_FLASHING;
        case SlotState::Retrying:
            return QUORVEL_SLOT_RETRYING;
        case SlotState::Passed:
            return QUORVEL_SLOT_PASSED;
        case SlotState::Failed:
            return QUORVEL_SLOT_FAILED;
        case SlotState::Stopped:
            return QUORVEL_SLOT_STOPPED;
    }
    return QUORVEL_SLOT_STOPPED;
}

int kindNumber(StationEventKind kind) {
    switch (kind) {
        case StationEventKind::Slot:
            return QUORVEL_EVENT_SLOT;
        case StationEventKind::Progress:
            return QUORVEL_EVENT_PROGRESS;
        case StationEventKind::Record:
            return QUORVEL_EVENT_RECORD;
        case StationEventKind::Note:
            return QUORVEL_EVENT_NOTE;
        case StationEventKind::Totals:
            return QUORVEL_EVENT_TOTALS;
        case StationEventKind::Database:
            return QUORVEL_EVENT_DATABASE;
        case StationEventKind::Ended:
            return QUORVEL_EVENT_ENDED;
    }
    return QUORVEL_EVENT_NOTE;
}

void giveUnit(const std::optional<std::int64_t>& unit, const std::optional<std::uint64_t>& serial,
              quorvel_station_event& to) {
    to.has_unit = unit ? 1 : 0;
    to.unit = unit.value_or(0);
    to.has_serial = serial ? 1 : 0;
    to.serial = serial.value_or(0);
}

}  // namespace

void fillEvent(const StationEvent& from, int finalStatus, quorvel_station_event& to) {
    to.kind = kindNumber(from.kind);
    to.slot = from.slot;
    copyText(from.port, to.port, sizeof to.port);
    to.passed = from.passed;
    to.failed = from.failed;
    switch (from.kind) {
        case StationEventKind::Slot:
            to.state = slotNumber(from.state);
            copyText(slotStateText(from.state, from.reason), to.state_text, sizeof to.state_text);
            giveUnit(from.unit, from.serial, to);
            break;
        case StationEventKind::Progress:
            to.progress = from.percent;
            break;
        case StationEventKind::Record: {
            const std::string line = recordLine(*from.record);
            copyText(line, to.record, sizeof to.record);
            to.record_length = line.size();
            to.logged = from.logged ? 1 : 0;
            giveUnit(from.record->unit, from.record->serial, to);
            break;
        }
        case StationEventKind::Note:
        case StationEventKind::Totals:
            copyText(from.text, to.note, sizeof to.note);
            break;
        case StationEventKind::Database:
            copyText(databaseStateText(from.databaseOnline, from.recordsWaiting), to.note,
                     sizeof to.note);
            break;
        case StationEventKind::Ended:
            to.status = finalStatus;
            break;
    }
}
