// quorvel-cli: writes a firmware image into devices on serial ports, several
// at once; lists the ports; tells what answers on a port.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/system.h"
#include "flashing/flash_request.h"
#include "serial/port_listing.h"
#include "serial/serial_port.h"

#ifndef QUORVEL_VERSION
#error "QUORVEL_VERSION must give the program's version"
#endif

namespace {

constexpr const char* kPortHelp =
    "COMn, a device path such as /dev/ttyUSB0 or /dev/serial/by-id/..., or a USB adapter: "
    "usb:SERIAL (its serial number) or usb:VID:PID (the only one with that id)";

// Looked for in the raw arguments, for a command line that could not be parsed.
bool jsonAsked(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), "--json") != arguments.end();
}

// The JSON document of a wrong command line, for scripts that read only standard output.
void printUsageErrorJson(const std::string& message) {
    const nlohmann::ordered_json document = {{"error", message}, {"status", kExitUsage}};
    std::printf(
        "%s\n",
        document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace).c_str());
}

int usageError(const std::string& message, bool json) {
    std::fprintf(stderr, "quorvel-cli: %s\n", message.c_str());
    if (json) printUsageErrorJson(message);
    return kExitUsage;
}

// A --port name that cannot be used as things stand, as a usage error; 0 when
// it can be tried (decidePortName): a usb: name that matches no adapter is
// said and tried all the same, and its open fails as an absent port's (status 4).
int checkPortName(const std::string& port, bool json) {
    const std::string problem = portNameProblem(port);
    if (!problem.empty()) return usageError(problem, json);
    const PortNameDecision decision = decidePortName(port);
    switch (decision.kind) {
        case PortNameDecision::Kind::Try:
            break;
        case PortNameDecision::Kind::TryUnmatched:
            std::fprintf(stderr, "quorvel-cli: %s\n", decision.text.c_str());
            break;
        case PortNameDecision::Kind::Refuse:
            return usageError(decision.text, json);
    }
    return kExitSuccess;
}

// Every --port name usable, and no port given twice under two names (COM5
// and com5, a device and its by-id link), which would drive one device from
// two threads. 0, or the usage error's status.
int checkPortList(const std::vector<std::string>& ports, bool json) {
    for (const std::string& port : ports) {
        if (port.empty()) return usageError("an empty port name", json);
        if (const int status = checkPortName(port, json)) return status;
    }
    const std::string repeated = repeatedPortProblem(ports);
    return repeated.empty() ? kExitSuccess : usageError(repeated, json);
}

constexpr const char* kDbHelp =
    "The line's PostgreSQL database: a libpq connection string or URI, such as "
    "postgresql://line3@db.example/factory (passwords from PGPASSWORD or .pgpass)";

CLI::Option* addDatabaseOptions(CLI::App* command, DatabaseOptions& db) {
    CLI::Option* url = command->add_option("--db", db.url, kDbHelp);
    command
        ->add_option("--db-timeout", db.timeoutSeconds,
                     "Seconds a wait on the database may take (default 10)")
        ->check(CLI::Range(0.1, 3600.0))
        ->needs(url);
    return url;
}

// quorvel-cli db init | db pool NAME.
CLI::App* addDbCommand(CLI::App& app, DatabaseOptions& initDb, PoolOptions& pool, CLI::App*& init,
                       CLI::App*& poolCommand) {
    CLI::App* db = app.add_subcommand("db", "Make the line's database ready, and its serial pools");
    db->require_subcommand(1);
    init = db->add_subcommand("init", "Create the quorvel schema, or bring it up to date");
    addDatabaseOptions(init, initDb)->required();
    poolCommand = db->add_subcommand(
        "pool", "Make a serial-number pool (--next and --last), move its end, or show it");
    poolCommand->add_option("NAME", pool.name, "The pool's name: one per product or lot")
        ->required();
    addDatabaseOptions(poolCommand, pool.db)->required();
    poolCommand->add_option("--next", pool.next, "The pool's first number, when it is made");
    poolCommand->add_option("--last", pool.last, "The pool's last number");
    poolCommand->add_flag("--json", pool.json, "Print one JSON document");
    return db;
}

int runCommandLine(std::vector<std::string>& arguments) {
    std::vector<char*> argumentPointers;
    for (std::string& argument : arguments) argumentPointers.push_back(&argument[0]);

    CLI::App app{"Writes a firmware image into devices on serial ports.", "quorvel-cli"};
    app.set_version_flag("--version", std::string("quorvel-cli ") + QUORVEL_VERSION);
    app.require_subcommand(1);

    bool json = false;
    CLI::App* ports = app.add_subcommand("ports", "List the serial ports present");
    ports->add_flag("--json", json, "Print one JSON document");

    std::string infoPort;
    CLI::App* info = app.add_subcommand("info", "Tell what answers on a port");
    info->add_option("--port", infoPort, kPortHelp)->required();
    info->add_flag("--json", json, "Print one JSON document");

    FlashOptions flashOptions;
    CLI::App* flash = app.add_subcommand(
        "flash", "Write an image (.bin or .hex) into the device on every port given");
    flash
        ->add_option("--port", flashOptions.ports,
                     std::string(kPortHelp) + "; repeat it or give a comma list")
        ->required()
        ->allow_extra_args(false)
        ->delimiter(',');
    flash->add_flag("--json", flashOptions.json, "Print one JSON document");
    flash->add_flag(
        "--no-progress", flashOptions.plainProgress,
        "A plain progress line per port at every 10 % instead of lines redrawn in place");
    flash
        ->add_option("IMAGE", flashOptions.imagePath,
                     "Image file: raw binary (.bin) or Intel HEX (.hex)")
        ->required();

    StationOptions stationOptions;
    CLI::App* station = app.add_subcommand(
        "station", "Flash boards as they arrive on every port given, and record every unit");
    station
        ->add_option("--port", stationOptions.ports,
                     std::string(kPortHelp) + "; one slot each; repeat it or give a comma list")
        ->required()
        ->allow_extra_args(false)
        ->delimiter(',');
    CLI::Option* log = station->add_option(
        "--log", stationOptions.logPath,
        "Append every unit's start and result to FILE as JSON lines, synced to disk");
    station->add_option("--station", stationOptions.station,
                        "The station's name in its records (default: the host name)");
    station->add_option("--limit", stationOptions.limit, "End after N boards have passed")
        ->check(CLI::NonNegativeNumber);
    station
        ->add_option("--retries", stationOptions.retries,
                     "Flash a board whose switch or transfer failed up to N more times")
        ->check(CLI::NonNegativeNumber);
    CLI::Option* serialAt =
        station->add_option("--serial-at", stationOptions.serialAt,
                            "Write each unit's serial number into its image at this address");
    CLI::Option* serialFile = station->add_option("--serial-file", stationOptions.serialFile,
                                                  "File holding the next serial number");
    CLI::Option* stationDb = addDatabaseOptions(station, stationOptions.db);
    CLI::Option* serialPool = station->add_option(
        "--serial-pool", stationOptions.serialPool,
        "Take the serial numbers from this pool of the database (in place of --serial-file)");
    station
        ->add_option("--serial-lease", stationOptions.serialLease,
                     "Hold K numbers of the pool at a time, for outages of the database "
                     "(default 1)")
        ->check(CLI::Range(1, 100000))
        ->needs(serialPool);
    serialPool->needs(stationDb)->needs(serialAt)->excludes(serialFile);
    serialFile->needs(serialAt);
    serialFile->needs(log);  // every serial number given must be on record
    station
        ->add_option("--serial-format", stationOptions.serialFormat,
                     "u32le (the default), u32be or ascii:W (W digits)")
        ->needs(serialAt);
    station->add_flag("--json", stationOptions.json,
                      "Every record on standard output as a JSON line, as in the log");
    station->add_flag("--no-progress", stationOptions.plainProgress,
                      "A line per state change instead of a board redrawn in place");
    station->add_option("--http", stationOptions.http,
                        "Serve the station's live page at [ADDRESS:]PORT (address 127.0.0.1 "
                        "unless given; 0.0.0.0 serves every network, read-only)");
    station->add_option("IMAGE", stationOptions.imagePath, "Image file: raw binary or Intel HEX")
        ->required();

    ReportOptions reportOptions;
    CLI::App* report = app.add_subcommand(
        "report", "Summarise a station's record log, or the records of a line's database");
    CLI::Option* reportFile =
        report->add_option("FILE", reportOptions.path, "The station's log (JSON Lines)");
    addDatabaseOptions(report, reportOptions.db)->excludes(reportFile);
    report->add_option("--station", reportOptions.station, "Only this station's records");
    report->add_option(
        "--since", reportOptions.since,
        "Only records at or after this UTC time: 2026-12-07 or 2026-12-07T06:00:00Z");
    report->add_option("--until", reportOptions.until, "Only records before this UTC time");
    report->add_flag("--json", reportOptions.json, "Print one JSON document");
    report->add_option("--html", reportOptions.htmlPath,
                       "Also write the report as one self-contained HTML page with charts");

    DatabaseOptions initDb;
    PoolOptions poolOptions;
    CLI::App* dbInit = nullptr;
    CLI::App* dbPool = nullptr;
    CLI::App* db = addDbCommand(app, initDb, poolOptions, dbInit, dbPool);

    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        if (status == 0) return kExitSuccess;  // --help, --version
        if (jsonAsked(arguments)) printUsageErrorJson(error.what());
        return kExitUsage;
    }

    std::atomic<bool> stop{false};
    std::atomic<bool> hangUp{false};
    setOnInterrupt(stop, *station ? &hangUp : nullptr);

    if (*ports) return runPortsCommand(json);
    if (*report) {
        if (reportOptions.path.empty() && reportOptions.db.url.empty()) {
            return usageError("report: give the log FILE or --db URL", reportOptions.json);
        }
        return runReportCommand(reportOptions);
    }
    if (*db) return *dbInit ? runDbInitCommand(initDb) : runDbPoolCommand(poolOptions);
    if (*info) {
        if (const int status = checkPortName(infoPort, json)) return status;
        return runInfoCommand(infoPort, json, stop);
    }

    if (*station) {
        if (*serialAt && !*serialFile && !*serialPool) {
            return usageError("--serial-at needs --serial-file or --serial-pool",
                              stationOptions.json);
        }
        if (const int status = checkPortList(stationOptions.ports, stationOptions.json)) {
            return status;
        }
        return runStationCommand(stationOptions, stop, hangUp);
    }
    if (const int status = checkPortList(flashOptions.ports, flashOptions.json)) return status;
    return runFlashCommand(flashOptions, stop);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments = commandArguments(argc, argv);
    const int status = runCommandLine(arguments);
    interruptHandled();
    return status;
}
