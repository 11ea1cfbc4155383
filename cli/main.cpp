// quorvel-cli: writes a firmware image into devices on serial ports, several
// at once; lists the ports; tells what answers on a port. Each subcommand
// registers its own options (cli/command_line.h); this file only wires them.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>

#include "cli/command_line.h"
#include "cli/system.h"
#include "flashing/status.h"

#ifndef QUORVEL_VERSION
#error "QUORVEL_VERSION must give the program's version"
#endif

namespace {

// Looked for in the raw arguments, for a command line that could not be parsed.
bool jsonAsked(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), "--json") != arguments.end();
}

int runCommandLine(std::vector<std::string>& arguments) {
    CLI::App app{"Writes a firmware image into devices on serial ports.", "quorvel-cli"};
    app.set_version_flag("--version", std::string("quorvel-cli ") + QUORVEL_VERSION);
    app.require_subcommand(1);
    const std::vector<Subcommand> commands{addPortsCommand(app),  addInfoCommand(app),
                                           addFlashCommand(app),  addStationCommand(app),
                                           addReportCommand(app), addDbCommand(app)};

    std::vector<char*> argumentPointers;
    for (std::string& argument : arguments) argumentPointers.push_back(&argument[0]);
    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
    } catch (const CLI::ParseError& error) {
        if (app.exit(error) == 0) return kStatusOk;  // --help, --version
        if (jsonAsked(arguments)) printUsageErrorJson(error.what());
        return kStatusWrongRequest;
    }

    // Static: a signal may still set them while main ends.
    static std::atomic<bool> interrupt{false};
    static std::atomic<bool> hangUp{false};
    CommandSignals signals{interrupt, hangUp};
    for (const Subcommand& command : commands) {
        if (!command.parser->parsed()) continue;
        setOnInterrupt(interrupt, command.watchesHangUp ? &hangUp : nullptr);
        return command.run(signals);
    }
    return kStatusWrongRequest;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments = commandArguments(argc, argv);
    const int status = runCommandLine(arguments);
    interruptHandled();
    return status;
}
