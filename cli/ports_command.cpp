// quorvel-cli ports: the serial ports present, with their adapters' USB
// identity and latency timer. The JSON keys are the same on every system.
#include <cstdio>
#include <memory>

#include "cli/command_line.h"
#include "cli/json_output.h"
#include "flashing/status.h"
#include "serial/port_listing.h"

namespace {

int runPortsCommand(bool json) {
    const std::vector<ListedPort> ports = listPorts();
    if (json) {
        Json listed = Json::array();
        for (const ListedPort& port : ports) {
            listed.push_back({{"port", port.name},
                              {"description", port.description},
                              {"usb_id", port.usbId},
                              {"serial_number", port.serialNumber},
                              {"location", port.location},
                              {"latency_timer_ms",
                               port.latencyTimerMs >= 0 ? Json(port.latencyTimerMs) : Json()}});
        }
        printJson({{"ports", listed}});
        return kStatusOk;
    }
    if (ports.empty()) std::fprintf(stderr, "no serial ports found\n");
    for (const ListedPort& port : ports) {
        std::string line = port.name;
        if (!port.description.empty()) line += "  " + port.description;
        if (!port.usbId.empty()) line += "  USB " + port.usbId;
        if (!port.serialNumber.empty()) line += "  serial " + port.serialNumber;
        if (!port.location.empty()) line += "  at " + port.location;
        if (port.latencyTimerMs >= 0) {
            line += "  latency timer " + std::to_string(port.latencyTimerMs) + " ms";
        }
        std::printf("%s\n", line.c_str());
    }
    return kStatusOk;
}

}  // namespace

Subcommand addPortsCommand(CLI::App& app) {
    auto json = std::make_shared<bool>(false);
    CLI::App* ports = app.add_subcommand("ports", "List the serial ports present");
    ports->add_flag("--json", *json, "Print one JSON document");
    return {ports, [json](CommandSignals&) { return runPortsCommand(*json); }};
}
