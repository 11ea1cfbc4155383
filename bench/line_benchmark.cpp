// Measures a line: 4 stations of 8 slots each (or as given) on one throwaway
// PostgreSQL, with simulated boards paced at 115 200 baud and an operator per
// slot who swaps a finished board for the next in 3-8 s. The database is
// stopped for 30 s in the middle of the run. Reports the time from a result
// to its row in the database while it is online, the records lost or
// duplicated, the catch-up after the outage, and each station's CPU. Run it
// once with --db and once without to compare the CPU. Not a test; by hand:
//   line_benchmark [db|nodb] [seconds, default 300] [stations, default 4] [slots, default 8]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "database/db_connection.h"
#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/pg_cluster.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr std::size_t kImageBytes = 65536;
constexpr double kOutageSeconds = 30;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

std::vector<Json> logRecords(const std::string& path) {
    std::vector<Json> records;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        Json record = Json::parse(line, nullptr, false);
        if (record.is_object()) records.push_back(record);
    }
    return records;
}

struct Station {
    std::vector<std::unique_ptr<DevsimProcess>> boards;
    std::unique_ptr<CliProcess> process;
    std::string log;
    CliOutcome end;
};

// Results shown for `port` so far, from the station's JSON lines.
int resultsOn(const CliOutcome& soFar, const std::string& port) {
    int count = 0;
    const std::string key = "\"event\":\"result\"";
    const std::string slot = "\"port\":\"" + port + "\"";
    for (std::size_t at = 0, end; (end = soFar.out.find('\n', at)) != std::string::npos;
         at = end + 1) {
        const std::string line = soFar.out.substr(at, end - at);
        if (line.find(key) != std::string::npos && line.find(slot) != std::string::npos) ++count;
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    const bool withDb = argc <= 1 || std::string(argv[1]) != "nodb";
    const double runSeconds = argc > 2 ? std::atof(argv[2]) : 300;
    const int stations = argc > 3 ? std::atoi(argv[3]) : 4;
    const int slots = argc > 4 ? std::atoi(argv[4]) : 8;
    TempFolder folder;
    const std::string image = folder.write("image.bin", text(pattern(kImageBytes, 77)));
    PgCluster cluster;
    if (withDb) {
        if (!cluster.start()) {
            std::fprintf(stderr, "%s\n", cluster.error().c_str());
            return 1;
        }
        runCli({"db", "init", "--db", cluster.url()});
        runCli({"db", "pool", "lot", "--db", cluster.url(), "--next", "1", "--last", "999999"});
    }

    std::vector<Station> line(static_cast<std::size_t>(stations));
    for (int s = 0; s < stations; ++s) {
        Station& station = line[static_cast<std::size_t>(s)];
        station.log = folder.pathOf("S" + std::to_string(s + 1) + ".log");
        std::vector<std::string> words{
            "station", "--json",   "--no-progress", "--station", "S" + std::to_string(s + 1),
            "--log",   station.log};
        if (withDb) {
            words.insert(words.end(), {"--db", cluster.url(), "--serial-pool", "lot",
                                       "--serial-lease", "50", "--serial-at", "0x108010"});
        }
        for (int i = 0; i < slots; ++i) {
            station.boards.push_back(std::make_unique<DevsimProcess>(
                std::vector<std::string>{"--start", "none", "--baud", "115200", "--latency", "1"},
                s * slots + i + 1));
            if (!station.boards.back()->started()) return 1;
            words.insert(words.end(), {"--port", station.boards.back()->linkPath()});
        }
        words.push_back(image);
        station.process = std::make_unique<CliProcess>(words);
    }

    // Operators: place, wait for the result, remove, swap.
    const auto start = Clock::now();
    bool running = true;
    std::vector<std::thread> operators;
    std::mutex outputs;
    for (int s = 0; s < stations; ++s) {
        for (int i = 0; i < slots; ++i) {
            operators.emplace_back([&, s, i] {
                Station& station = line[static_cast<std::size_t>(s)];
                DevsimProcess& board = *station.boards[static_cast<std::size_t>(i)];
                std::mt19937 random(77u + static_cast<unsigned>(s * slots + i));
                std::uniform_real_distribution<double> swap(3.0, 8.0);
                std::this_thread::sleep_for(std::chrono::duration<double>(swap(random) / 2));
                for (int placed = 0; running && secondsSince(start) < runSeconds; ++placed) {
                    board.control("place boot");
                    for (;;) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(100));
                        std::lock_guard<std::mutex> lock(outputs);
                        if (!running ||
                            resultsOn(station.process->soFar(), board.linkPath()) > placed)
                            break;
                    }
                    board.control("remove");
                    std::this_thread::sleep_for(std::chrono::duration<double>(swap(random)));
                }
            });
        }
    }
    // The stations' output is collected here; the outage in the middle.
    double outageAt = runSeconds / 2 - kOutageSeconds / 2;
    double restartedAt = -1;
    double stoppedWall = 0;
    double caughtUpWall = 0;
    double caughtUpAfter = -1;
    std::size_t expectedAtRestart = 0;
    bool stopped = false;
    while (secondsSince(start) < runSeconds + 30) {
        {
            std::lock_guard<std::mutex> lock(outputs);
            for (Station& station : line) station.process->waitForError("\x01never\x01", 5);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const double now = secondsSince(start);
        if (withDb && !stopped && now >= outageAt) {
            stoppedWall = wallSeconds();
            cluster.stopServer();
            stopped = true;
        } else if (withDb && stopped && restartedAt < 0 && now >= outageAt + kOutageSeconds) {
            for (Station& station : line) expectedAtRestart += logRecords(station.log).size();
            cluster.startServer();
            restartedAt = secondsSince(start);
        } else if (restartedAt >= 0 && caughtUpAfter < 0) {
            DbSettings settings;
            settings.url = cluster.url();
            DbConnection db(settings);
            DbRows rows;
            if (db.run("SELECT count(*) FROM quorvel.records", {}, &rows).ok() &&
                std::stoul(rows.rows[0][0].value_or("0")) >= expectedAtRestart) {
                caughtUpAfter = secondsSince(start) - restartedAt;
                caughtUpWall = wallSeconds();
            }
        }
        if (now > runSeconds + 15) break;  // the last boards in flight have ended
    }
    running = false;
    for (std::thread& thread : operators) thread.join();
    const double elapsed = secondsSince(start);
    for (Station& station : line) station.process->interrupt();
    for (Station& station : line) station.end = station.process->finish(60000);

    std::printf("line_benchmark: %d stations x %d slots, %.0f s, %s\n", stations, slots, elapsed,
                withDb ? "with --db (30 s outage in the middle)" : "without --db");
    std::size_t logged = 0;
    std::set<std::string> keys;
    int results = 0;
    for (int s = 0; s < stations; ++s) {
        Station& station = line[static_cast<std::size_t>(s)];
        for (const Json& record : logRecords(station.log)) {
            ++logged;
            results += record["event"] == "result" ? 1 : 0;
            keys.insert(record["station"].get<std::string>() + " " + record["unit"].dump() + " " +
                        record["attempt"].dump() + " " + record["event"].get<std::string>());
        }
        std::printf("  station S%d: CPU %.2f s = %.2f %% of one core, exit status %d\n", s + 1,
                    station.end.cpuSeconds, 100.0 * station.end.cpuSeconds / elapsed,
                    station.end.status);
    }
    std::printf("  records in the logs: %zu (%d results)\n", logged, results);
    if (!withDb) return 0;

    DbSettings settings;
    settings.url = cluster.url();
    DbConnection db(settings);
    DbRows rows;
    db.run("SELECT station || ' ' || unit || ' ' || attempt || ' ' || event FROM quorvel.records",
           {}, &rows);
    std::set<std::string> inDatabase;
    std::size_t duplicates = 0;
    for (const auto& row : rows.rows) duplicates += inDatabase.insert(*row[0]).second ? 0 : 1;
    std::size_t lost = 0;
    for (const std::string& key : keys) lost += inDatabase.count(key) == 0 ? 1 : 0;
    // Result to row, for the results made while the database was up (not in
    // the outage nor in the catch-up after it).
    db.run(
        "SELECT extract(epoch FROM received_at - time), extract(epoch FROM time) "
        "FROM quorvel.records WHERE event = 'result'",
        {}, &rows);
    std::vector<double> lags;
    std::vector<double> online;
    for (const auto& row : rows.rows) {
        const double lag = std::atof(row[0]->c_str());
        const double at = std::atof(row[1]->c_str());
        lags.push_back(lag);
        // A result in the second before the stop may have met the outage too.
        if (at < stoppedWall - 1 || at > caughtUpWall) online.push_back(lag);
    }
    std::printf("  rows: %zu; lost %zu, duplicated %zu\n", inDatabase.size(), lost, duplicates);
    std::printf(
        "  result to row while online: median %.3f s, 95th percentile %.3f s (%zu results;"
        " %zu waited out the outage)\n",
        percentile(online, 0.5), percentile(online, 0.95), online.size(),
        lags.size() - online.size());
    std::printf("  catch-up after the outage: %.2f s\n", caughtUpAfter);
    db.run(
        "SELECT pg_total_relation_size('quorvel.records') / greatest(count(*), 1) "
        "FROM quorvel.records",
        {}, &rows);
    std::printf("  bytes per record on disk, indexes included: %s\n", rows.rows[0][0]->c_str());
    return lost == 0 && duplicates == 0 ? 0 : 1;
}
