// What a port name stood for when the port was open: the device it opened
// (a usb: name resolved) and the adapter the listing knows behind it.
#pragma once

#include <string>

#include "capi/quorvel.h"
#include "serial/port_listing.h"

struct PortFacts {
    bool known = false;
    std::string device;  // empty when a usb: name resolved to nothing
    ListedPort adapter;
};

// Looks the port up in the listing now.
PortFacts lookUpPort(const std::string& port);

// Writes the facts into the result's device, usb_id and serial_number.
void describePortFacts(const PortFacts& facts, quorvel_result& result);
