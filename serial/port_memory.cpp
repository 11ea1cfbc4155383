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
MemoryDevice* playedDevice = nullptr;
int openFailure = 0;

int readFromDevice(void* buffer, std::uint32_t& count) {
    if (playedDevice->hungUp) {
        count = 0;
        return EIO;
    }
    std::uint32_t taken = 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (taken < count && !playedDevice->replies.empty()) {
        bytes[taken++] = playedDevice->replies.front();
        playedDevice->replies.pop_front();
    }
    count = taken;
    return 0;
}

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

void playMemoryDevice(MemoryDevice* device) { playedDevice = device; }

void failMemoryPortOpens(int error) { openFailure = error; }

PortHandle openPort(SerialPort* port, std::int32_t portNumber) {
    port->openedPortNumber = portNumber;
    port->openError = openFailure;
    port->handle = openFailure == 0 ? 1 : kInvalidPortHandle;
    return port->handle;
}

PortHandle openPortAtPath(SerialPort* port, const std::string&) { return openPort(port, 0); }

void closePort(SerialPort* port) { delete port; }

int readBytes(SerialPort*, void* buffer, std::uint32_t& count, std::uint32_t) {
    if (playedDevice != nullptr) return readFromDevice(buffer, count);
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
    if (playedDevice != nullptr && playedDevice->hungUp) {
        count = 0;
        return EIO;
    }
    bytesWritten += count;
    traceBytes(kWriteTracePrefix, data, count);
    if (playedDevice != nullptr)
        playedDevice->written(static_cast<const std::uint8_t*>(data), count);
    return 0;
}

bool portInUse(int openError) { return openError == EBUSY; }

bool portAbsent(int openError) { return openError == ENOENT; }

PortNameList enumeratePorts() { return {}; }

// No ports are listed, and names are what they say.
std::string devicePortIdentity(const std::string& name) { return name; }

int absentPortError() { return ENOENT; }

std::vector<ListedPort> systemPortListing() { return {}; }

std::string latencyAdvice(const ListedPort&) { return ""; }
