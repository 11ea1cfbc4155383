// The parts of the port layer that are the same on every operating system.
#include "platform/platform.h"
#include "serial/serial_port.h"

SerialPort* createPort(std::int32_t portNumber) {
    auto* port = new SerialPort;
    port->inputQueueSize = kInputQueueSize;
    port->outputQueueSize = kOutputQueueSize;
    port->portNumber = portNumber;
    port->handle = openPort(port, portNumber);
    return port;
}

SerialPort* reopenPort(SerialPort* port) {
    const std::int32_t portNumber = port->portNumber;
    closePort(port);
    // The device may be restarting and its port briefly absent: try a few
    // times with a short pause, then give up so the caller can report it.
    SerialPort* fresh = createPort(portNumber);
    for (int attempt = 1; attempt < kReopenAttempts && fresh->handle == kInvalidPortHandle;
         ++attempt) {
        closePort(fresh);
        sleepMilliseconds(kReopenPauseMs);
        fresh = createPort(portNumber);
    }
    return fresh;
}
