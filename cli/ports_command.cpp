// quorvel-cli ports: the serial ports present, with their adapters' USB
// identity and latency timer. The JSON keys are the same on every system.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "serial/port_listing.h"

int runPortsCommand(bool json) {
    const std::vector<ListedPort> ports = listPorts();
    if (json) {
        using Json = nlohmann::ordered_json;
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
        const Json document = {{"ports", listed}};
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
        return kExitSuccess;
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
    return kExitSuccess;
}
