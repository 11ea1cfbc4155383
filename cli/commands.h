// The commands. Each prints its results on standard output (text, or JSON)
// and returns the exit status.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

int runPortsCommand(bool json);

int runInfoCommand(const std::string& port, bool json, std::atomic<bool>& stop);

struct FlashOptions {
    std::vector<std::string> ports;  // in the order given
    std::string imagePath;           // UTF-8
    bool json = false;
    bool plainProgress = false;  // a line per 10 % even on a terminal
};

int runFlashCommand(const FlashOptions& options, std::atomic<bool>& stop);

// Where a line's database is and how long a wait on it may take.
struct DatabaseOptions {
    std::string url;  // a libpq connection string or URI; empty: none
    double timeoutSeconds = 10;
    std::uint32_t timeoutMs() const { return static_cast<std::uint32_t>(timeoutSeconds * 1000); }
};

struct StationOptions {
    std::vector<std::string> ports;  // the slots, in the order given
    std::string imagePath;           // UTF-8
    std::string logPath;             // empty: no log file
    std::string station;             // the station's name in its records; empty: the host name
    int limit = 0;                   // boards to pass before the station ends; 0: no limit
    int retries = 0;                 // further attempts for a board whose switch or transfer failed
    std::string serialAt;            // device address of the serial number; empty: none
    std::string serialFile;
    std::string serialFormat = "u32le";
    DatabaseOptions db;
    std::string serialPool;  // in place of serialFile: numbers from the database's pool
    std::uint64_t serialLease = 1;
    bool json = false;
    bool plainProgress = false;
    std::string http;  // "[ADDRESS:]PORT" of the station page; empty: none
};

// Ctrl-C (`interrupt`) once stops arming and lets the boards in flight
// finish; twice aborts them, as a hang-up (`hangUp`) does.
int runStationCommand(const StationOptions& options, std::atomic<bool>& interrupt,
                      std::atomic<bool>& hangUp);

struct ReportOptions {
    std::string path;      // the station's log, or
    DatabaseOptions db;    // the line's database
    std::string station;   // only this station's records; empty: all
    std::string since;     // only records at or after this UTC time ("2026-12-07" or ISO 8601)
    std::string until;     // and before this one
    std::string htmlPath;  // also written there as a page with charts; empty: none
    bool json = false;
};

// Summarises a station's record log (JSON Lines), or the records in a line's
// database: overall, per station and per slot. kExitRecordsLost when the log
// cannot be read, kExitDatabase when the database cannot. With `htmlPath`,
// the report is also written there as a page with charts (cli/report_html.cpp).
int runReportCommand(const ReportOptions& options);

// quorvel-cli db init: the line's schema made or brought up to date.
int runDbInitCommand(const DatabaseOptions& db);

struct PoolOptions {
    std::string name;
    DatabaseOptions db;
    std::optional<std::uint64_t> next;  // with last: makes the pool
    std::optional<std::uint64_t> last;  // moves the pool's end
    bool json = false;
};

// quorvel-cli db pool: a serial-number pool made, its end moved, or shown.
int runDbPoolCommand(const PoolOptions& options);
