// The commands. Each prints its results on standard output (text, or JSON)
// and returns the exit status.
#pragma once

#include <atomic>
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
    bool json = false;
    bool plainProgress = false;
    std::string http;  // "[ADDRESS:]PORT" of the station page; empty: none
};

// Ctrl-C (`interrupt`) once stops arming and lets the boards in flight
// finish; twice aborts them, as a hang-up (`hangUp`) does.
int runStationCommand(const StationOptions& options, std::atomic<bool>& interrupt,
                      std::atomic<bool>& hangUp);

// Summarises a station's record log (JSON Lines): overall, per station and per
// slot. kExitRecordsLost when the log cannot be read. With `htmlPath`, the
// report is also written there as a page with charts (cli/report_html.cpp).
int runReportCommand(const std::string& path, bool json, const std::string& htmlPath = "");
