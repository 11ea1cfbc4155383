// The serial ports present, as the C API lists them.
#pragma once

#include <string>
#include <vector>

struct PortEntry {
    std::string name;
    std::string description;
    std::string usbId;
    std::string serialNumber;
    std::string location;
    int latencyTimerMs = -1;
};

std::vector<PortEntry> presentPorts();
