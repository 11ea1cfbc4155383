// The parts of the port layer that are the same on every operating system.
#include <string>

#include "platform/platform.h"
#include "serial/serial_port.h"

SerialPort* createPort(std::int32_t portNumber) {
    auto* port = new SerialPort;
    port->inputQueueSize = kInputQueueSize;
    port->outputQueueSize = kOutputQueueSize;
    port->portNumber = portNumber;
    port->handle = openPort(port, portNumber);
    if (port->handle == kInvalidPortHandle) {
        const std::string line = "Open : COM" + std::to_string(portNumber) + " failed, error " +
                                 std::to_string(port->openError) + " (" +
                                 portErrorText(port->openError) + ")\n";
        debugOutput(std::wstring(line.begin(), line.end()));
    }
    return port;
}

SerialPort* reopenPort(SerialPort* port) {
    const std::int32_t portNumber = port->portNumber;
    closePort(port);
    // The device may be restarting and its port absent for a while: try again
    // with a short pause, then give up so the caller can report it.
    const std::uint32_t start = tickCount();
    SerialPort* fresh = createPort(portNumber);
    while (fresh->handle == kInvalidPortHandle && ticksSince(start) < kReopenLimitMs) {
        closePort(fresh);
        sleepMilliseconds(kReopenPauseMs);
        fresh = createPort(portNumber);
    }
    return fresh;
}
