// What the subcommands share on the command line: how one is registered and
// run, the --port and --db options, and usage errors.
#pragma once

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Where a line's database is and how long a wait on it may take.
struct DatabaseOptions {
    std::string url;  // a libpq connection string or URI; empty: none
    double timeoutSeconds = 10;
    std::uint32_t timeoutMs() const { return static_cast<std::uint32_t>(timeoutSeconds * 1000); }
};

// The flags a running command watches: Ctrl-C, and a hang-up or termination
// request for a command that tells the two apart.
struct CommandSignals {
    std::atomic<bool>& interrupt;
    std::atomic<bool>& hangUp;
};

// A subcommand registered on the command line, and what runs once it is chosen.
struct Subcommand {
    CLI::App* parser = nullptr;
    std::function<int(CommandSignals&)> run;
    bool watchesHangUp = false;  // else a hang-up counts as an interrupt
};

// --port, required: one port; or a list, repeated or with commas, whose help
// ends with `eachPort`.
CLI::Option* addPortOption(CLI::App& command, std::string& port);
CLI::Option* addPortListOption(CLI::App& command, std::vector<std::string>& ports,
                               const std::string& eachPort);
// --db URL and --db-timeout S; returns --db.
CLI::Option* addDatabaseOptions(CLI::App& command, DatabaseOptions& db);

// The JSON document of a wrong command line, for scripts that read only
// standard output.
void printUsageErrorJson(const std::string& message);
// The message on standard error, and with `json` its JSON document; returns kStatusWrongRequest.
int usageError(const std::string& message, bool json);

// 0 when the --port name can be tried as things stand; else the usage
// error's status, after its message. A usb: name that matches no adapter is
// said and tried all the same: its open fails as an absent port's (status 4).
int checkPortName(const std::string& port, bool json);
// Every --port name usable, and no port given twice under two names (COM5 and
// com5, a device and its by-id link), which would drive one device from two
// threads. 0, or the usage error's status.
int checkPortList(const std::vector<std::string>& ports, bool json);

Subcommand addPortsCommand(CLI::App& app);
Subcommand addInfoCommand(CLI::App& app);
Subcommand addFlashCommand(CLI::App& app);
Subcommand addStationCommand(CLI::App& app);
Subcommand addReportCommand(CLI::App& app);
Subcommand addDbCommand(CLI::App& app);
