// Where the station's engine hands each record once it is synced to the log:
// the line's database (record_shipper.h), when the station has one.
#pragma once

#include "station/station_events.h"
#include "station/unit_record.h"

// Where the engine hands each record once it is in the log.
class RecordOutbox {
  public:
    virtual ~RecordOutbox() = default;
    // The station starts: state changes go to `observer` from now on.
    virtual void start(StationObserver& observer) = 0;
    // Never waits for the database.
    virtual void add(const UnitRecord& record) = 0;
    // The station has ended: the records still waiting are sent within the
    // database's time-out; those that are not stay in the log for the next start.
    virtual void finish() = 0;
};
