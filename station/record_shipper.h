// Sends a station's records to the line's database from a thread of its own.
// The station's log is the outbox: a record is synced there first, and waits
// (in the log, and here in memory) while the database is away, to be sent
// when it returns. Sending is idempotent, so a record sent twice (a reply
// lost in an outage, a restart) is in the database once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "database/db_connection.h"
#include "station/record_outbox.h"
#include "station/unit_record.h"

class RecordShipper final : public RecordOutbox {
  public:
    RecordShipper(DbSettings db, std::string station);
    ~RecordShipper() override;

    // Start-up, before the thread runs: connects and claims the station's
    // name, so that two running stations never share one (their unit numbers
    // would collide). False with the reason; `nameTaken` when another station
    // holds the name.
    bool connect(DbOutcome& outcome, bool& nameTaken);
    DbConnection& connection() { return db_; }
    // Sends what `records` holds and the database lacks (the log at start).
    DbOutcome catchUp(const std::vector<UnitRecord>& records);

    void start(StationObserver& observer) override;
    void add(const UnitRecord& record) override;
    void finish() override;

    // Records waiting to be sent.
    std::size_t waiting();

  private:
    bool claimName(DbOutcome& outcome);
    void run();
    bool shipBatch();
    void showState(bool online, std::size_t waiting);
    void note(const std::string& text);

    const std::string station_;
    DbConnection db_;  // the thread's alone once it runs
    StationObserver* observer_ = nullptr;
    std::string lastRefusal_;  // the thread's: told once

    std::mutex mutex_;  // guards what follows
    std::condition_variable wake_;
    std::deque<UnitRecord> pending_;
    bool finishing_ = false;
    bool online_ = true;
    std::thread thread_;
};
