#include "cli/command_line.h"

#include <cstdio>

#include "cli/json_output.h"
#include "cli/system.h"
#include "flashing/flash_request.h"
#include "flashing/status.h"

namespace {

constexpr const char* kPortHelp =
    "COMn, a device path such as /dev/ttyUSB0 or /dev/serial/by-id/..., or a USB adapter: "
    "usb:SERIAL (its serial number) or usb:VID:PID (the only one with that id)";

constexpr const char* kDbHelp =
    "The line's PostgreSQL database: a libpq connection string or URI, such as "
    "postgresql://line3@db.example/factory (passwords from PGPASSWORD or .pgpass)";

}  // namespace

CLI::Option* addPortOption(CLI::App& command, std::string& port) {
    return command.add_option("--port", port, kPortHelp)->required();
}

CLI::Option* addPortListOption(CLI::App& command, std::vector<std::string>& ports,
                               const std::string& eachPort) {
    return command.add_option("--port", ports, std::string(kPortHelp) + eachPort)
        ->required()
        ->allow_extra_args(false)
        ->delimiter(',');
}

CLI::Option* addDatabaseOptions(CLI::App& command, DatabaseOptions& db) {
    CLI::Option* url = command.add_option("--db", db.url, kDbHelp);
    command
        .add_option("--db-timeout", db.timeoutSeconds,
                    "Seconds a wait on the database may take (default 10)")
        ->check(CLI::Range(0.1, 3600.0))
        ->needs(url);
    return url;
}

void printUsageErrorJson(const std::string& message) {
    printJson({{"error", message}, {"status", kStatusWrongRequest}});
}

int usageError(const std::string& message, bool json) {
    std::fprintf(stderr, "quorvel-cli: %s\n", message.c_str());
    if (json) printUsageErrorJson(message);
    return kStatusWrongRequest;
}

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
    return kStatusOk;
}

int checkPortList(const std::vector<std::string>& ports, bool json) {
    for (const std::string& port : ports) {
        if (port.empty()) return usageError("an empty port name", json);
        if (const int status = checkPortName(port, json)) return status;
    }
    const std::string repeated = repeatedPortProblem(ports);
    return repeated.empty() ? kStatusOk : usageError(repeated, json);
}
