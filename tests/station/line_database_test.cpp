// The line's database against a throwaway cluster: the schema's versions, two
// stations leasing from one pool, the numbers a station never used made void
// (at its end, or at its next start after an outage), records sent once
// whatever the replays and read back for the report, and the shipper waiting
// out an outage.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "station/line_records.h"
#include "station/line_schema.h"
#include "station/record_shipper.h"
#include "station/report_statistics.h"
#include "station/serial_pool.h"
#include "tests/support/pg_cluster.h"

namespace {

class LineDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(cluster_.start()) << cluster_.error();
        ASSERT_EQ(migrateLineSchema(db_).state, SchemaState::Ready);
    }

    DbSettings settings() const {
        DbSettings settings;
        settings.url = cluster_.url();
        settings.timeoutMs = 5000;
        return settings;
    }

    std::string scalar(const std::string& sql) {
        DbRows rows;
        EXPECT_TRUE(db_.run(sql, {}, &rows).ok()) << sql;
        return rows.rows.empty() ? "" : rows.rows[0][0].value_or("NULL");
    }

    void makePool(const std::string& name, std::uint64_t next, std::uint64_t last) {
        PoolFacts facts;
        DbOutcome outcome;
        ASSERT_TRUE(changeSerialPool(db_, name, next, last, facts, outcome)) << outcome.message;
    }

    PgCluster cluster_;
    DbConnection db_{settings()};
};

UnitRecord recordOf(const std::string& station, std::int64_t unit, RecordEvent event,
                    std::int64_t timeMs, bool ok = true) {
    UnitRecord record;
    record.event = event;
    record.station = station;
    record.port = "COM" + std::to_string(unit % 2 + 5);
    record.unit = unit;
    record.serial = 1000 + static_cast<std::uint64_t>(unit);
    char time[32];
    std::snprintf(time, sizeof time, "2026-12-07T10:%02d:%02d.%03dZ",
                  static_cast<int>(timeMs / 60000 % 60), static_cast<int>(timeMs / 1000 % 60),
                  static_cast<int>(timeMs % 1000));
    record.time = time;
    parseUtcMillis(record.time, record.timeMs);
    record.imageSha256 = "ab";
    if (event == RecordEvent::Result) {
        record.ok = ok;
        record.flash = {{"device", "app 1.2.3"},
                        {"ok", ok},
                        {"code", ok ? 0 : -9979},
                        {"bytes", 3000},
                        {"status", ok ? 0 : 1}};
        if (!ok) record.reason = "no device";
    }
    return record;
}

class Collector : public StationObserver {
  public:
    void onEvent(const StationEvent& event) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (event.kind == StationEventKind::Database) states.push_back(event);
    }
    std::mutex mutex;
    std::vector<StationEvent> states;
};

template <typename Condition>
bool waitFor(Condition condition, int limitMs = 8000) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

TEST_F(LineDatabase, SchemaIsMadeOnceAndANewerOneIsRefused) {
    EXPECT_EQ(migrateLineSchema(db_).state, SchemaState::Ready);
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.schema_version"), "1");
    ASSERT_TRUE(db_.run("INSERT INTO quorvel.schema_version (version) VALUES (99)").ok());
    const SchemaCheck check = checkLineSchema(db_);
    EXPECT_EQ(check.state, SchemaState::Newer);
    EXPECT_NE(check.message().find("newer"), std::string::npos) << check.message();
    EXPECT_EQ(migrateLineSchema(db_).state, SchemaState::Newer);

    ASSERT_TRUE(db_.run("DROP SCHEMA quorvel CASCADE").ok());
    EXPECT_EQ(checkLineSchema(db_).state, SchemaState::Missing);
    EXPECT_NE(checkLineSchema(db_).message().find("db init"), std::string::npos);
}

TEST_F(LineDatabase, TwoStationsLeasingFromOnePoolNeverShareANumber) {
    makePool("lot", 1, 300);
    std::vector<std::uint64_t> taken[2];
    std::thread stations[2];
    for (int i = 0; i < 2; ++i) {
        stations[i] = std::thread([&, i] {
            SerialPool pool(settings(), "lot", i == 0 ? "A" : "B", 7);
            for (;;) {
                const SerialTake take = pool.take(UINT64_MAX, nullptr);
                if (take.status != SerialStatus::Taken) {
                    EXPECT_EQ(take.status, SerialStatus::Exhausted) << take.error;
                    return;
                }
                taken[i].push_back(take.number);
            }
        });
    }
    for (std::thread& station : stations) station.join();
    std::set<std::uint64_t> all(taken[0].begin(), taken[0].end());
    all.insert(taken[1].begin(), taken[1].end());
    EXPECT_EQ(all.size(), taken[0].size() + taken[1].size());  // none twice
    EXPECT_EQ(all.size(), 300u);                               // none skipped
    EXPECT_FALSE(taken[0].empty());
    EXPECT_FALSE(taken[1].empty());
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.serial_leases WHERE state = 'used'"), "300");
}

TEST_F(LineDatabase, NumbersNeverUsedAreVoidAtTheEndOrAtTheNextStart) {
    makePool("lot", 10, 100);
    {
        SerialPool pool(settings(), "lot", "A", 5);
        EXPECT_EQ(pool.take(UINT64_MAX, nullptr).number, 10u);
        EXPECT_EQ(pool.take(UINT64_MAX, nullptr).number, 11u);
        pool.finish();
    }
    EXPECT_EQ(scalar("SELECT string_agg(serial::text, ',' ORDER BY serial) FROM "
                     "quorvel.serial_leases WHERE state = 'void'"),
              "12,13,14");

    // Station B takes 15 online and 16 during an outage, then stops without
    // ending: 16 is leased still. Its next start settles it by its start record.
    auto pool = std::make_unique<SerialPool>(settings(), "lot", "B", 5);
    EXPECT_EQ(pool->take(UINT64_MAX, nullptr).number, 15u);
    ASSERT_TRUE(cluster_.stopServer());
    EXPECT_EQ(pool->take(UINT64_MAX, nullptr).number, 16u);
    ASSERT_TRUE(cluster_.startServer());
    db_.close();  // the test's own connection ended with the server
    UnitRecord start = recordOf("B", 2, RecordEvent::Start, 1000);
    start.serial = 16;
    ASSERT_TRUE(insertRecords(db_, {start}).ok());
    ASSERT_TRUE(settleStationLeases(db_, "B").ok());
    EXPECT_EQ(scalar("SELECT string_agg(serial || ' ' || state, ',' ORDER BY serial) FROM "
                     "quorvel.serial_leases WHERE station = 'B'"),
              "15 used,16 used,17 void,18 void,19 void");
    pool.reset();  // finds its held numbers void already
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.serial_leases WHERE state = 'leased'"), "0");
}

TEST_F(LineDatabase, APoolEndsAtItsLastNumberOrTheFormatsHighest) {
    makePool("small", 1, 3);
    SerialPool pool(settings(), "small", "A", 10);
    EXPECT_EQ(pool.check(2).status, SerialStatus::Taken);
    EXPECT_EQ(pool.take(2, nullptr).number, 1u);
    EXPECT_EQ(pool.take(2, nullptr).number, 2u);
    EXPECT_EQ(pool.take(2, nullptr).status, SerialStatus::Exhausted);
    EXPECT_EQ(pool.take(3, nullptr).number, 3u);
    EXPECT_EQ(pool.take(3, nullptr).status, SerialStatus::Exhausted);
    EXPECT_EQ(pool.check(3).status, SerialStatus::Exhausted);

    SerialPool missing(settings(), "nothing", "A", 1);
    const SerialTake check = missing.check(UINT64_MAX);
    EXPECT_EQ(check.status, SerialStatus::Failed);
    EXPECT_NE(check.error.find("db pool nothing"), std::string::npos) << check.error;
}

TEST_F(LineDatabase, RecordsArriveOnceAndReadBackAsTheLogHasThem) {
    std::vector<UnitRecord> log;
    for (int unit = 1; unit <= 4; ++unit) {
        log.push_back(recordOf("A", unit, RecordEvent::Start, unit * 60000));
        log.push_back(recordOf("A", unit, RecordEvent::Result, unit * 60000 + 30000, unit != 3));
    }
    log.push_back(recordOf("B", 1, RecordEvent::Start, 500000));
    ASSERT_TRUE(insertRecords(db_, {log[0], log[1]}).ok());
    std::vector<UnitRecord> missing;
    ASSERT_TRUE(missingRecords(db_, log, missing).ok());
    EXPECT_EQ(missing.size(), log.size() - 2);
    ASSERT_TRUE(insertRecords(db_, log).ok());  // a replay
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.records"), std::to_string(log.size()));

    RecordLines read;
    ASSERT_TRUE(readRecords(db_, RecordFilter(), read).ok());
    ASSERT_EQ(read.records.size(), log.size());
    RecordLines original;
    original.records = log;
    const Report fromLog = makeReport(original);
    const Report fromDatabase = makeReport(read);
    EXPECT_EQ(fromDatabase.overall.passed, fromLog.overall.passed);
    EXPECT_EQ(fromDatabase.overall.failed, fromLog.overall.failed);
    EXPECT_EQ(fromDatabase.overall.cycles, fromLog.overall.cycles);
    EXPECT_EQ(fromDatabase.overall.reasons, fromLog.overall.reasons);
    EXPECT_EQ(fromDatabase.interrupted.size(), 1u);  // B's unit 1
    EXPECT_EQ(read.records[1].flash.value("device", ""), "app 1.2.3");
    EXPECT_EQ(read.records[1].time, log[1].time);

    RecordFilter filter;
    filter.station = "A";
    filter.since = log[2].timeMs;  // unit 2's start
    filter.until = log[6].timeMs;  // unit 4's start
    ASSERT_TRUE(readRecords(db_, filter, read).ok());
    std::size_t admitted = 0;
    for (const UnitRecord& record : log) admitted += filter.admits(record) ? 1 : 0;
    EXPECT_EQ(read.records.size(), admitted);
    EXPECT_EQ(admitted, 4u);
}

TEST_F(LineDatabase, TheShipperWaitsOutAnOutageAndClaimsItsName) {
    RecordShipper shipper(settings(), "A");
    DbOutcome outcome;
    bool nameTaken = false;
    ASSERT_TRUE(shipper.connect(outcome, nameTaken)) << outcome.message;
    RecordShipper twin(settings(), "A");
    EXPECT_FALSE(twin.connect(outcome, nameTaken));
    EXPECT_TRUE(nameTaken);

    Collector states;
    shipper.start(states);
    ASSERT_TRUE(cluster_.stopServer());
    for (int unit = 1; unit <= 3; ++unit)
        shipper.add(recordOf("A", unit, RecordEvent::Start, unit * 1000));
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard<std::mutex> lock(states.mutex);
        return !states.states.empty() && !states.states.back().databaseOnline &&
               states.states.back().recordsWaiting == 3;
    }));
    ASSERT_TRUE(cluster_.startServer());
    EXPECT_TRUE(waitFor([&] { return shipper.waiting() == 0; }));
    shipper.finish();
    db_.close();
    EXPECT_TRUE(states.states.back().databaseOnline);
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.records"), "3");
}
