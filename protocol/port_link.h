// The link through which every protocol operation reaches one port. It holds
// that port's protocol state (the packet being received, the console replies),
// so operations on different ports never see each other's bytes.
#pragma once

#include <atomic>
#include <cstdint>

struct SerialPort;

// Results of the protocol operations: 0 for success, a positive OS error code
// when a port call failed, or this value when the device did not answer in time
// (or the wait was stopped through the link's stop flag).
constexpr int kTimedOut = -1;

// The receive buffer holds a header and at most 62 payload words.
constexpr std::int32_t kReceiveBufferBytes = 256;

// Reply bytes the console commands collect at most.
constexpr std::int32_t kConsoleReplyCapacity = 200;

// The packet readPacket is reading or has just read.
struct ReceiveArea {
    std::uint8_t buffer[kReceiveBufferBytes];
    // Packet bytes taken from the port so far. The buffer keeps the first
    // kReceiveBufferBytes of them; any further bytes of an oversized packet are
    // read and dropped.
    std::int32_t bytesReceived;
    // Whole size of the packet (8 + 4 x length field, or 8 for an '@' packet);
    // 0 until the packet is complete.
    std::int32_t packetLength;
};

// Holds the port for one operation, one whole transfer or one port's whole
// session; freeing the link leaves the port open and owned by whoever created it.
struct PortLink {
    explicit PortLink(SerialPort* linkedPort) : port(linkedPort) {}

    SerialPort* port;
    // When set by another thread, every wait on this link ends at once as kTimedOut.
    const std::atomic<bool>* stop = nullptr;

    ReceiveArea receiveArea{};
    // The reply of the last version query, NUL-terminated; the version text lies inside it.
    char appVersionReply[kConsoleReplyCapacity + 1]{};
    // The reply of the last boot-switch command.
    char bootSwitchReply[kConsoleReplyCapacity + 1]{};
};

// Writes `count` bytes whole. `count` out: the bytes written (before the failure,
// if one occurred). 0 or the OS error code.
int writeAll(PortLink* link, const void* bytes, std::int32_t& count);

// Reads what has arrived, waiting in the operating system for the first byte
// while the time since `start` is within `limitMs` (never spinning). `count`: in
// the most bytes to read, out the bytes read. Returns 0 (possibly with no byte),
// the OS error code of a failed read, or kTimedOut once the link's stop flag is set.
int readWithin(PortLink* link, void* buffer, std::uint32_t& count, std::uint32_t start,
               std::uint32_t limitMs);
