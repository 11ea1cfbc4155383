#include "station/serial_pool.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

// How long a pool that found the database away gives held numbers without asking it.
constexpr auto kOfflinePause = std::chrono::seconds(5);

bool parseNumber(const DbValue& value, std::uint64_t& number) {
    if (!value || value->empty()) return false;
    char* end = nullptr;
    number = std::strtoull(value->c_str(), &end, 10);
    return *end == '\0';
}

std::string numberArray(const std::deque<std::uint64_t>& numbers) {
    std::string text = "{";
    for (const std::uint64_t number : numbers) {
        if (text.size() > 1) text += ',';
        text += std::to_string(number);
    }
    return text + "}";
}

SerialTake takeOf(SerialStatus status, std::string error = "", std::uint64_t number = 0) {
    SerialTake take;
    take.status = status;
    take.error = std::move(error);
    take.number = number;
    return take;
}

// Runs `statements` in one transaction, rolled back when one fails.
DbOutcome inTransaction(DbConnection& db, const std::function<DbOutcome()>& statements) {
    DbOutcome outcome = db.run("BEGIN");
    if (outcome.ok()) outcome = statements();
    if (outcome.ok()) outcome = db.run("COMMIT");
    if (!outcome.ok() && db.connected()) db.run("ROLLBACK");
    return outcome;
}

}  // namespace

SerialPool::SerialPool(DbSettings db, std::string pool, std::string station, std::uint64_t lease)
    : pool_(std::move(pool)), station_(std::move(station)), lease_(lease), db_(std::move(db)) {}

SerialPool::~SerialPool() { finish(); }

std::string SerialPool::description() const { return "the serial-number pool " + pool_; }

std::string SerialPool::failure(const DbOutcome& outcome) const {
    if (outcome.failure == DbFailure::Refused) return outcome.message;
    return "the database cannot be reached and no leased number is left: " + outcome.message;
}

SerialTake SerialPool::check(std::uint64_t highest) {
    std::lock_guard<std::mutex> lock(mutex_);
    PoolFacts facts;
    const DbOutcome outcome = readSerialPool(db_, pool_, facts);
    if (!outcome.ok()) return takeOf(SerialStatus::Failed, outcome.message);
    if (!facts.exists) {
        return takeOf(SerialStatus::Failed, "no pool of that name (quorvel-cli db pool " + pool_ +
                                                " --db URL --next N --last M makes one)");
    }
    if (facts.remaining() == 0) {
        return takeOf(SerialStatus::Exhausted,
                      "every number up to " + std::to_string(facts.last) + " is given");
    }
    if (facts.next > highest) {
        return takeOf(SerialStatus::Exhausted, "the next number, " + std::to_string(facts.next) +
                                                   ", does not fit the serial format (at most " +
                                                   std::to_string(highest) + ")");
    }
    return takeOf(SerialStatus::Taken, "", facts.next);
}

SerialTake SerialPool::take(std::uint64_t highest, const std::atomic<bool>* stop) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stop != nullptr && stop->load()) return takeOf(SerialStatus::Stopped);
    // Leases end at the format's highest number, so what is held fits.
    while (!held_.empty() && held_.front() <= highest) {
        const std::uint64_t number = held_.front();
        held_.pop_front();
        // Offline the number is used all the same: its start record settles it
        // later. A database found away is not asked again for a while, so that
        // a board never waits out a time-out for a number already held.
        if (std::chrono::steady_clock::now() < offlineUntil_) {
            return takeOf(SerialStatus::Taken, "", number);
        }
        DbRows rows;
        const DbOutcome outcome = db_.run(
            "UPDATE quorvel.serial_leases SET state = 'used', settled_at = now() "
            "WHERE pool = $1 AND serial = $2 AND state = 'leased' RETURNING serial",
            {pool_, std::to_string(number)}, &rows);
        if (!outcome.ok()) offlineUntil_ = std::chrono::steady_clock::now() + kOfflinePause;
        if (!outcome.ok() || !rows.rows.empty()) return takeOf(SerialStatus::Taken, "", number);
        // The lease is no longer this station's: the number is void or used elsewhere.
    }
    SerialTake leased = leaseBlock(highest);
    // A connection the server ended (a restart) shows only when it is used: once more, afresh.
    if (leased.status == SerialStatus::Failed && lostConnection_) leased = leaseBlock(highest);
    return leased;
}

// Leases up to `lease_` numbers, the first used at once, in one transaction.
SerialTake SerialPool::leaseBlock(std::uint64_t highest) {
    PoolFacts facts;
    bool leased = false;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    const DbOutcome outcome = inTransaction(db_, [&] {
        DbRows rows;
        DbOutcome step = db_.run(
            "SELECT next_serial, last_serial FROM quorvel.serial_pools WHERE name = $1 FOR UPDATE",
            {pool_}, &rows);
        if (!step.ok() || rows.rows.empty()) return step;
        facts.exists =
            parseNumber(rows.rows[0][0], facts.next) && parseNumber(rows.rows[0][1], facts.last);
        const std::uint64_t top = std::min(facts.last, highest);
        if (!facts.exists || facts.next > top) return step;
        leased = true;
        first = facts.next;
        last = top - first < lease_ - 1 ? top : first + lease_ - 1;
        step = db_.run(
            "UPDATE quorvel.serial_pools SET next_serial = $2::numeric + 1 "
            "WHERE name = $1",
            {pool_, std::to_string(last)});
        if (!step.ok()) return step;
        return db_.run(
            "INSERT INTO quorvel.serial_leases (pool, serial, station, state, settled_at) "
            "SELECT $1, n, $4, CASE WHEN n = $2::numeric THEN 'used' ELSE 'leased' END, "
            "CASE WHEN n = $2::numeric THEN now() END "
            "FROM generate_series($2::numeric, $3::numeric) AS n",
            {pool_, std::to_string(first), std::to_string(last), station_});
    });
    lostConnection_ = outcome.failure == DbFailure::Lost;
    if (!outcome.ok()) return takeOf(SerialStatus::Failed, failure(outcome));
    if (!facts.exists) return takeOf(SerialStatus::Failed, "the pool does not exist any more");
    if (!leased) {
        return takeOf(SerialStatus::Exhausted,
                      facts.next > facts.last
                          ? "every number up to " + std::to_string(facts.last) + " is given"
                          : "the next number, " + std::to_string(facts.next) +
                                ", does not fit the serial format");
    }
    offlineUntil_ = {};
    for (std::uint64_t number = first; number != last;) held_.push_back(++number);
    return takeOf(SerialStatus::Taken, "", first);
}

void SerialPool::finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (held_.empty()) return;
    const DbOutcome outcome = db_.run(
        "UPDATE quorvel.serial_leases SET state = 'void', settled_at = now() "
        "WHERE pool = $1 AND serial = ANY($2::numeric[]) AND state = 'leased'",
        {pool_, numberArray(held_)});
    if (outcome.ok()) held_.clear();
}

DbOutcome settleStationLeases(DbConnection& db, const std::string& station) {
    return db.run(
        "UPDATE quorvel.serial_leases l SET settled_at = now(), state = CASE WHEN EXISTS ("
        "SELECT 1 FROM quorvel.records r WHERE r.station = l.station AND r.serial = l.serial "
        "AND r.event = 'start') THEN 'used' ELSE 'void' END "
        "WHERE l.station = $1 AND l.state = 'leased'",
        {station});
}

DbOutcome readSerialPool(DbConnection& db, const std::string& name, PoolFacts& facts) {
    DbRows rows;
    const DbOutcome outcome = db.run(
        "SELECT p.next_serial, p.last_serial, "
        "count(*) FILTER (WHERE l.state = 'leased'), count(*) FILTER (WHERE l.state = 'used'), "
        "count(*) FILTER (WHERE l.state = 'void') "
        "FROM quorvel.serial_pools p LEFT JOIN quorvel.serial_leases l ON l.pool = p.name "
        "WHERE p.name = $1 GROUP BY p.name",
        {name}, &rows);
    facts = PoolFacts();
    if (!outcome.ok() || rows.rows.empty()) return outcome;
    const auto& row = rows.rows[0];
    facts.exists = parseNumber(row[0], facts.next) && parseNumber(row[1], facts.last) &&
                   parseNumber(row[2], facts.leased) && parseNumber(row[3], facts.used) &&
                   parseNumber(row[4], facts.voided);
    return outcome;
}

bool changeSerialPool(DbConnection& db, const std::string& name,
                      const std::optional<std::uint64_t>& next,
                      const std::optional<std::uint64_t>& last, PoolFacts& facts,
                      DbOutcome& outcome) {
    outcome = readSerialPool(db, name, facts);
    if (!outcome.ok()) return false;
    if (!facts.exists) {
        if (!next || !last) {
            outcome = {DbFailure::Refused, "", "no pool " + name + ": --next and --last make one"};
            return false;
        }
        if (*last < *next) {
            outcome = {DbFailure::Refused, "", "--last is below --next"};
            return false;
        }
        outcome = db.run(
            "INSERT INTO quorvel.serial_pools (name, next_serial, last_serial) "
            "VALUES ($1, $2, $3) ON CONFLICT (name) DO NOTHING",
            {name, std::to_string(*next), std::to_string(*last)});
    } else {
        if (next && *next != facts.next) {
            outcome = {DbFailure::Refused, "",
                       "the pool " + name + " exists and its next number is " +
                           std::to_string(facts.next) +
                           ": it never moves, so that no number is given twice or skipped"};
            return false;
        }
        if (last) {
            // Under the row's lock, so that a lease meanwhile cannot pass the new end.
            DbRows rows;
            outcome = db.run(
                "UPDATE quorvel.serial_pools SET last_serial = $2 "
                "WHERE name = $1 AND next_serial <= $2::numeric + 1 RETURNING name",
                {name, std::to_string(*last)}, &rows);
            if (outcome.ok() && rows.rows.empty()) {
                outcome = {DbFailure::Refused, "", "--last is below a number already given"};
                return false;
            }
        }
    }
    if (!outcome.ok()) return false;
    outcome = readSerialPool(db, name, facts);
    return outcome.ok();
}

DbOutcome readVoidSerials(DbConnection& db, const std::string& station,
                          std::vector<VoidSerial>& serials) {
    DbRows rows;
    const DbOutcome outcome = db.run(
        "SELECT pool, serial, station FROM quorvel.serial_leases "
        "WHERE state = 'void' AND ($1 = '' OR station = $1) ORDER BY pool, serial",
        {station}, &rows);
    serials.clear();
    for (const auto& row : rows.rows) {
        VoidSerial entry;
        entry.pool = row[0].value_or("");
        parseNumber(row[1], entry.serial);
        entry.station = row[2].value_or("");
        serials.push_back(entry);
    }
    return outcome;
}
