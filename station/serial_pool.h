// Serial numbers from a named pool in the line's database, shared by every
// station of the line. A station leases a block of numbers in one transaction
// and uses them one by one, so that a short outage of the database does not
// stop it; what it leased but never used is marked void when it ends (or, after
// a crash, when it starts again), so that no number is given twice and none is
// skipped without a trace.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "database/db_connection.h"
#include "station/serial_source.h"

class SerialPool final : public SerialSource {
  public:
    // `lease`: the numbers leased at a time (1 and up).
    SerialPool(DbSettings db, std::string pool, std::string station, std::uint64_t lease);
    ~SerialPool() override;
    std::string description() const override;
    // The pool exists and has a number at most `highest`.
    SerialTake check(std::uint64_t highest) override;
    // A leased number, or a new lease.
    SerialTake take(std::uint64_t highest, const std::atomic<bool>* stop) override;
    // Marks the numbers still held void. Those it cannot mark (the database
    // is away) stay leased until the station starts again.
    void finish() override;

  private:
    SerialTake leaseBlock(std::uint64_t highest);
    std::string failure(const DbOutcome& outcome) const;

    const std::string pool_;
    const std::string station_;
    const std::uint64_t lease_;
    std::mutex mutex_;  // guards what follows; one take at a time
    DbConnection db_;
    std::deque<std::uint64_t> held_;  // leased, not used, ascending
    bool lostConnection_ = false;     // the last lease failed on a connection that had ended
    std::chrono::steady_clock::time_point offlineUntil_{};
};

// A station's leases that are still open from an earlier run (a crash, an
// outage at its end): used when a start record of the station carries the
// number, void otherwise. Run once the station's log is in the database.
DbOutcome settleStationLeases(DbConnection& db, const std::string& station);

struct PoolFacts {
    bool exists = false;
    std::uint64_t next = 0;
    std::uint64_t last = 0;
    std::uint64_t leased = 0;  // leased by a station, not used yet
    std::uint64_t used = 0;
    std::uint64_t voided = 0;
    std::uint64_t remaining() const { return next > last ? 0 : last - next + 1; }
};

DbOutcome readSerialPool(DbConnection& db, const std::string& name, PoolFacts& facts);

// Creates the pool when it does not exist. An existing pool keeps its next
// number (moving it would give numbers twice or skip them); its last number
// may change, but never below a number already given. False with the reason.
bool changeSerialPool(DbConnection& db, const std::string& name,
                      const std::optional<std::uint64_t>& next,
                      const std::optional<std::uint64_t>& last, PoolFacts& facts,
                      DbOutcome& outcome);

struct VoidSerial {
    std::string pool;
    std::uint64_t serial = 0;
    std::string station;
};

// The numbers marked void, by pool and number; of one station when `station` is not empty.
DbOutcome readVoidSerials(DbConnection& db, const std::string& station,
                          std::vector<VoidSerial>& serials);
