// The in-memory port backend (see memory_port.h). Single-threaded by design.
#include <cerrno>
#include <cstring>

#include "serial/memory_port.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

const std::uint8_t* streamBytes = nullptr;
std::size_t streamSize = 0;
std::size_t streamAt = 0;
std::size_t bytesWritten = 0;
std::size_t readsServed = 0;

}  // namespace

void feedMemoryPort(const std::uint8_t* bytes, std::size_t count) {
    streamBytes = bytes;
    streamSize = count;
    streamAt = 0;
    bytesWritten = 0;
    readsServed = 0;
}

std::size_t memoryPortBytesRead() { return streamAt; }

std::size_t memoryPortBytesWritten() { return bytesWritten; }

PortHandle openPort(SerialPort* port, std::int32_t portNumber) {
    port->openedPortNumber = portNumber;
    port->openError = 0;
    port->handle = 1;
    return port->handle;
}

void closePort(SerialPort* port) { delete port; }

int readBytes(SerialPort*, void* buffer, std::uint32_t& count, std::uint32_t) {
    if (streamAt >= streamSize) {
        count = 0;
        return EIO;
    }
    // Runs of 1 to 7 bytes, so that every reader meets partial reads.
    std::size_t run = 1 + readsServed++ % 7;
    if (run > count) run = count;
    if (run > streamSize - streamAt) run = streamSize - streamAt;
    std::memcpy(buffer, streamBytes + streamAt, run);
    streamAt += run;
    count = static_cast<std::uint32_t>(run);
    traceBytes(kReadTracePrefix, buffer, run);
    return 0;
}

int writeBytes(SerialPort*, const void* data, std::uint32_t& count) {
    bytesWritten += count;
    traceBytes(kWriteTracePrefix, data, count);
    return 0;
}

bool portInUse(int openError) { return openError == EBUSY; }

std::string portErrorText(int error) { return std::strerror(error); }

PortNameList enumeratePorts() { return {}; }

// No ports are listed, and names are what they say.
std::string devicePortIdentity(const std::string& name) { return name; }

int absentPortError() { return ENOENT; }

std::vector<ListedPort> systemPortListing() { return {}; }

std::string latencyAdvice(const ListedPort&) { return ""; }
