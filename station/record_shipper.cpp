#include "station/record_shipper.h"

#include <algorithm>
#include <chrono>

#include "station/line_records.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records per statement: a log of a long outage goes in a few round trips.
constexpr std::size_t kBatchRecords = 500;
// While the database is away, it is tried again this often.
constexpr auto kRetryInterval = std::chrono::seconds(1);

}  // namespace

RecordShipper::RecordShipper(DbSettings db, std::string station)
    : station_(std::move(station)), db_(std::move(db)) {}

RecordShipper::~RecordShipper() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        finishing_ = true;
        pending_.clear();
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool RecordShipper::claimName(DbOutcome& outcome) {
    DbRows rows;
    // Held by the connection's session: a station that dies lets go of it.
    outcome = db_.run("SELECT pg_try_advisory_lock(hashtext('quorvel.station'), hashtext($1))",
                      {station_}, &rows);
    return outcome.ok() && !rows.rows.empty() && rows.rows[0][0] == std::string("t");
}

bool RecordShipper::connect(DbOutcome& outcome, bool& nameTaken) {
    nameTaken = false;
    outcome = db_.connect();
    if (!outcome.ok()) return false;
    nameTaken = !claimName(outcome) && outcome.ok();
    return outcome.ok() && !nameTaken;
}

DbOutcome RecordShipper::catchUp(const std::vector<UnitRecord>& records) {
    std::vector<UnitRecord> missing;
    DbOutcome outcome = missingRecords(db_, records, missing);
    for (std::size_t at = 0; outcome.ok() && at < missing.size(); at += kBatchRecords) {
        const std::size_t end = std::min(missing.size(), at + kBatchRecords);
        outcome = insertRecords(
            db_, std::vector<UnitRecord>(missing.begin() + static_cast<std::ptrdiff_t>(at),
                                         missing.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    return outcome;
}

void RecordShipper::start(StationObserver& observer) {
    observer_ = &observer;
    showState(true, 0);
    thread_ = std::thread([this] { run(); });
}

void RecordShipper::add(const UnitRecord& record) {
    bool offline = false;
    std::size_t count = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_.push_back(record);
        offline = !online_;
        count = pending_.size();
    }
    if (offline) {
        showState(false, count);
    } else {
        wake_.notify_one();
    }
}

void RecordShipper::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (finishing_) return;
        finishing_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    const std::size_t left = waiting();
    if (left > 0) {
        note(std::to_string(left) + (left == 1 ? " record is" : " records are") +
             " not in the database yet: the log keeps them, and the station's next start sends "
             "them");
    }
}

std::size_t RecordShipper::waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

void RecordShipper::note(const std::string& text) {
    if (observer_ == nullptr) return;
    StationEvent event;
    event.kind = StationEventKind::Note;
    event.text = text;
    observer_->onEvent(event);
}

void RecordShipper::showState(bool online, std::size_t waiting) {
    if (observer_ == nullptr) return;
    StationEvent event;
    event.kind = StationEventKind::Database;
    event.databaseOnline = online;
    event.recordsWaiting = static_cast<int>(waiting);
    observer_->onEvent(event);
}

void RecordShipper::run() {
    const auto timeLimit = std::chrono::milliseconds(db_.settings().timeoutMs);
    Clock::time_point retryAt{};
    std::optional<Clock::time_point> finishBy;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        const Clock::time_point now = Clock::now();
        if (finishing_ && !finishBy) finishBy = now + timeLimit;
        if (finishing_ && (pending_.empty() || now >= *finishBy)) return;
        if (pending_.empty() || (!online_ && now < retryAt)) {
            Clock::time_point until = pending_.empty() ? now + std::chrono::hours(1) : retryAt;
            if (finishBy) until = std::min(until, *finishBy);
            wake_.wait_until(lock, until);
            continue;
        }
        lock.unlock();
        const bool shipped = shipBatch();
        lock.lock();
        if (!shipped) retryAt = Clock::now() + kRetryInterval;
    }
}

// Sends the oldest waiting records; false when the database did not take them.
bool RecordShipper::shipBatch() {
    std::vector<UnitRecord> batch;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t count = std::min(pending_.size(), kBatchRecords);
        batch.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
    }
    DbOutcome outcome;
    bool nameTaken = false;
    if (!db_.connected()) connect(outcome, nameTaken);
    if (nameTaken) {
        note("another station named " + station_ +
             " is using the database: give each station its own --station name");
    }
    if (db_.connected()) outcome = insertRecords(db_, batch);
    // A connection the server ended (a restart) shows only when it is used: once more, afresh.
    if (outcome.failure == DbFailure::Lost && connect(outcome, nameTaken)) {
        outcome = insertRecords(db_, batch);
    }
    // A refusal is not an outage: the operator is told, and the records wait in the log.
    if (outcome.failure == DbFailure::Refused && outcome.message != lastRefusal_) {
        lastRefusal_ = outcome.message;
        note("the database refuses the records: " + outcome.message);
    }
    const bool shipped = db_.connected() && outcome.ok();
    bool changed = false;
    std::size_t left = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (shipped) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(batch.size()));
        }
        changed = online_ != shipped;
        online_ = shipped;
        left = pending_.size();
    }
    if (changed) showState(shipped, left);
    return shipped;
}
