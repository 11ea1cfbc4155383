// Stations of a line on one throwaway PostgreSQL: two stations sharing a
// pool, a station killed and started again, a 20 s outage, a pool that runs
// out, report --db against the logs, and the databases refused at start.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "database/db_connection.h"
#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/pg_cluster.h"

namespace {

using Json = nlohmann::json;

constexpr int kStationLimitMs = 60000;

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

class Line : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(cluster_.start()) << cluster_.error();
        const CliOutcome init = runCli({"db", "init", "--db", cluster_.url()});
        ASSERT_EQ(init.status, 0) << init.err;
        const CliOutcome pool = runCli(
            {"db", "pool", "lot", "--db", cluster_.url(), "--next", "1000", "--last", "1999"});
        ASSERT_EQ(pool.status, 0) << pool.err;
    }

    // A station named `name` on `ports`, its log in the test's folder.
    std::vector<std::string> station(const std::string& name, const std::vector<std::string>& ports,
                                     const std::vector<std::string>& extra) const {
        std::vector<std::string> words{
            "station", "--no-progress", "--station",     name,  "--log",       logOf(name),
            "--db",    cluster_.url(),  "--serial-pool", "lot", "--serial-at", "0x108010"};
        for (const std::string& port : ports) words.insert(words.end(), {"--port", port});
        words.insert(words.end(), extra.begin(), extra.end());
        words.push_back(imagePath_);
        return words;
    }

    std::string logOf(const std::string& name) const { return folder_.pathOf(name + ".log"); }

    std::string scalar(const std::string& sql) {
        DbSettings settings;
        settings.url = cluster_.url();
        DbConnection db(settings);
        DbRows rows;
        EXPECT_TRUE(db.run(sql, {}, &rows).ok()) << sql;
        return rows.rows.empty() ? "" : rows.rows[0][0].value_or("NULL");
    }

    // The report's figures, without where they came from.
    static Json figures(const std::string& document) {
        Json report = Json::parse(document);
        Json kept;
        for (const char* key : {"records", "results", "overall", "stations", "interrupted"})
            kept[key] = report[key];
        for (Json& entry : kept["interrupted"]) entry.erase("line");
        return kept;
    }

    PgCluster cluster_;
    TempFolder folder_;
    std::string imagePath_ = folder_.write("image.bin", text(pattern(3000, 5)));
};

}  // namespace

TEST_F(Line, TwoStationsShareAPoolAndTheReportOfTheDatabaseIsTheirLogs) {
    DevsimProcess a1({"--start", "boot"}, 1), a2({"--start", "boot"}, 2);
    DevsimProcess b1({"--start", "boot"}, 3), b2({"--start", "boot"}, 4);
    ASSERT_TRUE(a1.started() && a2.started() && b1.started() && b2.started());
    CliProcess stationA(station("A", {a1.linkPath(), a2.linkPath()}, {"--limit", "3"}));
    CliProcess stationB(
        station("B", {b1.linkPath(), b2.linkPath()}, {"--limit", "2", "--serial-lease", "3"}));
    ASSERT_TRUE(stationA.waitForError(a1.linkPath() + "  PASS", 30000)) << stationA.soFar().err;
    ASSERT_TRUE(a1.control("remove"));
    ASSERT_TRUE(stationA.waitForError(a1.linkPath() + "  waiting", 10000));
    ASSERT_TRUE(a1.control("place boot"));
    EXPECT_EQ(stationA.finish(kStationLimitMs).status, 0);
    const CliOutcome endB = stationB.finish(kStationLimitMs);
    EXPECT_EQ(endB.status, 0) << endB.err;

    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.records"), "10");
    EXPECT_EQ(scalar("SELECT count(DISTINCT serial) FROM quorvel.records"), "5");
    // B leased 3 and used 2: its third number is void, and said so.
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.serial_leases WHERE state = 'void'"), "1");

    folder_.write("both.log", fileText(logOf("A")) + fileText(logOf("B")));
    const CliOutcome fromLogs = runCli({"report", "--json", folder_.pathOf("both.log")});
    const CliOutcome fromDatabase =
        runCli({"report", "--json", "--db", cluster_.url(), "--html", folder_.pathOf("line.html")});
    ASSERT_EQ(fromDatabase.status, 0) << fromDatabase.err;
    EXPECT_NE(fileText(folder_.pathOf("line.html")).find("void_serials"), std::string::npos);
    Json logFigures = figures(fromLogs.out);
    Json databaseFigures = figures(fromDatabase.out);
    // Units in the order of their time; the logs put together list A's first.
    auto byName = [](const Json& x, const Json& y) { return x["station"] < y["station"]; };
    std::sort(databaseFigures["stations"].begin(), databaseFigures["stations"].end(), byName);
    EXPECT_EQ(databaseFigures, logFigures);
    EXPECT_EQ(Json::parse(fromDatabase.out)["void_serials"].size(), 1u);

    const CliOutcome onlyB = runCli({"report", "--json", "--db", cluster_.url(), "--station", "B"});
    EXPECT_EQ(figures(onlyB.out), figures(runCli({"report", "--json", logOf("B")}).out));
}

TEST_F(Line, AKilledStationsRecordsArriveOnceAndTheNumbersItNeverUsedAreVoid) {
    DevsimProcess cut({"--start", "none", "--baud", "9600"}, 1);
    ASSERT_TRUE(cut.started());
    {
        CliProcess killed(station("A", {cut.linkPath()}, {"--serial-lease", "5"}));
        ASSERT_TRUE(killed.waitForError("database online", 10000)) << killed.soFar().err;
        ASSERT_TRUE(cut.control("place boot"));
        ASSERT_TRUE(cut.waitForTranscript("boot rx data", 20000));
        killed.kill();
    }
    CliProcess again(station("A", {cut.linkPath()}, {"--serial-lease", "5", "--limit", "1"}));
    const CliOutcome run = again.finish(kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(scalar("SELECT string_agg(event || ' ' || attempt || ' ' || serial, ',' "
                     "ORDER BY event DESC, attempt) FROM quorvel.records"),
              "start 1 1000,start 2 1000,result 2 1000");
    EXPECT_EQ(scalar("SELECT string_agg(serial || ' ' || state, ',' ORDER BY serial) FROM "
                     "quorvel.serial_leases"),
              "1000 used,1001 void,1002 void,1003 void,1004 void");
}

TEST_F(Line, ADatabaseAwayFor20SecondsIsWaitedOutWithLeasedNumbers) {
    DevsimProcess first({"--start", "boot"}, 1), second({"--start", "none"}, 2);
    ASSERT_TRUE(first.started() && second.started());
    CliProcess line(station("A", {first.linkPath(), second.linkPath()}, {"--serial-lease", "10"}));
    ASSERT_TRUE(line.waitForError(first.linkPath() + "  PASS", 30000)) << line.soFar().err;
    const auto stopped = std::chrono::steady_clock::now();
    ASSERT_TRUE(cluster_.stopServer());
    ASSERT_TRUE(second.control("place boot"));
    ASSERT_TRUE(line.waitForError(second.linkPath() + "  PASS", 30000)) << line.soFar().err;
    ASSERT_TRUE(line.waitForError("database offline, ", 10000)) << line.soFar().err;
    std::this_thread::sleep_until(stopped + std::chrono::seconds(20));  // the outage's length
    ASSERT_TRUE(cluster_.startServer());
    // Shipped within seconds of its return.
    const auto back = std::chrono::steady_clock::now();
    while (scalar("SELECT count(*) FROM quorvel.records") != "4" &&
           std::chrono::steady_clock::now() - back < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - back, std::chrono::seconds(5));
    line.interrupt();
    const CliOutcome run = line.finish(kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.records"), "4");
    EXPECT_EQ(scalar("SELECT string_agg(DISTINCT serial::text, ',') FROM quorvel.records"),
              "1000,1001");
}

TEST_F(Line, APoolThatRunsOutStopsArming) {
    ASSERT_EQ(
        runCli({"db", "pool", "one", "--db", cluster_.url(), "--next", "7", "--last", "7"}).status,
        0);
    DevsimProcess first({"--start", "boot"}, 1), second({"--start", "boot"}, 2);
    ASSERT_TRUE(first.started() && second.started());
    std::vector<std::string> words = station("A", {first.linkPath(), second.linkPath()}, {});
    words[9] = "one";  // --serial-pool one
    const CliOutcome run = runCli(words, kStationLimitMs);
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_NE(run.err.find("no serial number left"), std::string::npos) << run.err;
    EXPECT_EQ(scalar("SELECT count(*) FROM quorvel.records WHERE ok"), "1");
}

TEST_F(Line, DatabasesThatCannotBeUsedAreRefusedBeforeAnyBoard) {
    DevsimProcess board({"--start", "boot"}, 1);
    ASSERT_TRUE(board.started());
    auto refused = [&](const std::string& url, const std::vector<std::string>& extra) {
        std::vector<std::string> words = station("A", {board.linkPath()}, extra);
        words[7] = url;
        return runCli(words, 30000);
    };
    const CliOutcome badUrl = refused("host=/tmp port=abc =", {});
    EXPECT_EQ(badUrl.status, 2) << badUrl.err;
    const CliOutcome unreachable = refused("host=127.0.0.1 port=1 user=u dbname=d", {});
    EXPECT_EQ(unreachable.status, 6) << unreachable.err;
    const CliOutcome password =
        refused(cluster_.urlFor(PgCluster::kPasswordRole, "not-the-password"), {});
    EXPECT_EQ(password.status, 6) << password.err;
    EXPECT_NE(password.err.find("password=***"), std::string::npos) << password.err;
    EXPECT_EQ(password.err.find("not-the-password"), std::string::npos) << password.err;
    std::vector<std::string> noPool = station("A", {board.linkPath()}, {});
    noPool[9] = "nothing";
    const CliOutcome missingPool = runCli(noPool, 30000);
    EXPECT_EQ(missingPool.status, 6) << missingPool.err;
    EXPECT_NE(missingPool.err.find("db pool nothing"), std::string::npos) << missingPool.err;

    // The records table locked elsewhere: the start-up's statement ends at the time-out.
    DbSettings settings;
    settings.url = cluster_.url();
    DbConnection locker(settings);
    ASSERT_TRUE(locker.run("BEGIN").ok());
    ASSERT_TRUE(locker.run("LOCK TABLE quorvel.records").ok());
    const auto before = std::chrono::steady_clock::now();
    const CliOutcome timedOut = refused(cluster_.url(), {"--db-timeout", "1"});
    EXPECT_EQ(timedOut.status, 6) << timedOut.err;
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(6));
    ASSERT_TRUE(locker.run("ROLLBACK").ok());

    // Another process already runs station A.
    ASSERT_TRUE(
        locker.run("SELECT pg_advisory_lock(hashtext('quorvel.station'), hashtext('A'))").ok());
    const CliOutcome twin = refused(cluster_.url(), {});
    EXPECT_EQ(twin.status, 6) << twin.err;
    EXPECT_NE(twin.err.find("another station named A"), std::string::npos) << twin.err;

    ASSERT_TRUE(locker.run("SELECT pg_advisory_unlock_all()").ok());
    ASSERT_TRUE(locker.run("DROP SCHEMA quorvel CASCADE").ok());
    const CliOutcome noSchema = refused(cluster_.url(), {});
    EXPECT_EQ(noSchema.status, 6) << noSchema.err;
    EXPECT_NE(noSchema.err.find("db init"), std::string::npos) << noSchema.err;
    EXPECT_EQ(board.transcript().find("boot rx start"), std::string::npos);
}
