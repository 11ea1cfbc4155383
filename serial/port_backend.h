// What the common port code (port_common.cpp, port_listing.cpp) asks of the
// files of each system; not for callers of the port layer.
#pragma once

#include <string>
#include <vector>

#include "serial/port_listing.h"

// What a device name (not a usb: name) opens, as portIdentity describes it.
std::string devicePortIdentity(const std::string& name);

// The OS error of an open whose port is absent: ENOENT, ERROR_FILE_NOT_FOUND.
int absentPortError();

// The system's own port listing.
std::vector<ListedPort> systemPortListing();

// How to lower an adapter's latency timer on this system, for the warning.
std::string latencyAdvice(const ListedPort& port);
