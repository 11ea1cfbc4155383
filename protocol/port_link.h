// The handle through which every protocol operation reaches the current port.
#pragma once

struct SerialPort;

// Holds the port for one operation (or one whole transfer); freeing the link
// leaves the port open and owned by whoever created it.
struct PortLink {
    SerialPort* port;
};

// Results of the protocol operations: 0 for success, a positive OS error code
// when a port call failed, or this value when the device did not answer in time.
constexpr int kTimedOut = -1;
