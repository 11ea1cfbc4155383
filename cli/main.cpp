// quorvel-cli: writes a firmware image into devices on serial ports, several
// at once; lists the ports; tells what answers on a port.
#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <set>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/system.h"

#ifndef QUORVEL_VERSION
#error "QUORVEL_VERSION must give the program's version"
#endif

namespace {

constexpr const char* kPortHelp =
    "COMn, or a device path such as /dev/ttyUSB0 or /dev/serial/by-id/...";

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

    try {
        app.parse(static_cast<int>(argumentPointers.size()), argumentPointers.data());
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitSuccess : kExitUsage;
    }

    std::atomic<bool> stop{false};
    setOnInterrupt(stop);

    if (*ports) return runPortsCommand(json);
    if (*info) return runInfoCommand(infoPort, json, stop);

    std::set<std::string> seen;
    for (const std::string& port : flashOptions.ports) {
        if (port.empty() || !seen.insert(port).second) {
            std::fprintf(
                stderr, "quorvel-cli: %s\n",
                port.empty() ? "an empty port name" : ("port " + port + " given twice").c_str());
            return kExitUsage;
        }
    }
    return runFlashCommand(flashOptions, stop);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments = commandArguments(argc, argv);
    const int status = runCommandLine(arguments);
    interruptHandled();
    return status;
}
