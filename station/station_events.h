// What a station tells its front end: a slot's state, a transfer's progress,
// a record written, a note, the totals, and its end. The engine hands events
// to an observer from its slots' threads; the observer must return quickly
// (EventQueue only queues them), so that a slow terminal never holds a slot.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "flashing/flash_job.h"
#include "station/unit_record.h"

enum class SlotState {
    Waiting,          // armed, no board answers
    WaitingForPort,   // the port is not there (yet)
    PortInUse,        // another program holds the port
    WaitingForLimit,  // a board answers, but the limit's boards are in flight
    Flashing,
    Retrying,  // the last attempt failed; the board is flashed again
    Passed,    // the board is flashed: take it away
    Failed,    // the board failed: take it away
    Stopped,   // no board starts on this slot any more
};

// "waiting", "flashing", "PASS", "FAIL no device", ...
std::string slotStateText(SlotState state, const std::string& reason);

enum class StationEventKind {
    Slot,      // a slot's state changed
    Progress,  // a transfer's percentage
    Record,    // a record was written (or could not be: `logged` false)
    Note,      // a line for the operator: a warning, a failure of the log
    Totals,    // the counts changed, or the remark
    Database,  // the database's state changed: online, or offline with records waiting
    Ended,     // the station has ended; the last event
};

struct StationEvent {
    StationEventKind kind = StationEventKind::Note;
    std::size_t slot = 0;
    std::string port;

    // Slot: the state, the failure's reason, and the unit on the slot.
    SlotState state = SlotState::Waiting;
    std::string reason;
    std::optional<std::int64_t> unit;
    std::optional<std::uint64_t> serial;
    int percent = -1;  // Progress

    std::optional<UnitRecord> record;  // Record
    bool logged = true;                // Record: synced to the log (or no log is kept)
    FlashResult result;                // Record: how a result record's attempt ended
    std::string text;                  // Note; the Totals' remark ("limit of 3 reached")

    int passed = 0;  // Totals, Ended
    int failed = 0;

    bool databaseOnline = true;  // Database
    int recordsWaiting = 0;      // Database: records in the log the database lacks
};

// "database online", "database offline, 3 records waiting".
std::string databaseStateText(bool online, int recordsWaiting);

class StationObserver {
  public:
    virtual ~StationObserver() = default;
    // Called from the slots' threads and from stop() and abort(): must not block.
    virtual void onEvent(const StationEvent& event) = 0;
};
