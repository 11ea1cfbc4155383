// The link through which every protocol operation reaches one port. It holds
// that port's protocol state (the packet being received, the console replies),
// so operations on different ports never see each other's bytes.
#pragma once

#include <atomic>
#include <cstdint>

struct SerialPort;

// How a protocol operation on the link ended.
enum class LinkStatus {
    Ok,
    PortError,  // a port call failed; the OS error is beside it
    TimedOut,   // the device did not answer within the operation's limit
    Stopped,    // the link's stop flag ended the wait
    Truncated,  // readPacket: the packet was longer than the destination (its first bytes copied)
};

struct LinkResult {
    LinkStatus status = LinkStatus::Ok;
    int osError = 0;  // the OS error code of the failed port call; 0 otherwise

    bool ok() const { return status == LinkStatus::Ok; }
    bool operator==(LinkStatus other) const { return status == other; }
    bool operator!=(LinkStatus other) const { return status != other; }
};

inline LinkResult portError(int osError) { return {LinkStatus::PortError, osError}; }

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
    // When set by another thread, every wait on this link ends at once as Stopped.
    const std::atomic<bool>* stop = nullptr;

    ReceiveArea receiveArea{};
    // The reply of the last version query, NUL-terminated; the version text lies inside it.
    char appVersionReply[kConsoleReplyCapacity + 1]{};
    // The reply of the last boot-switch command.
    char bootSwitchReply[kConsoleReplyCapacity + 1]{};
};

// A write that the device does not drain for this long fails as TimedOut
// instead of blocking for ever.
constexpr std::uint32_t kWriteStallLimitMs = 20000;

// Writes `count` bytes whole, a slice at a time, so that the stop flag ends a
// write the device does not drain. `count` out: the bytes written (before the
// failure, if one occurred). Ok, PortError, TimedOut (stalled for
// kWriteStallLimitMs) or Stopped.
LinkResult writeAll(PortLink* link, const void* bytes, std::int32_t& count);

// Reads what has arrived, waiting in the operating system for the first byte
// while the time since `start` is within `limitMs`. `count`: in the most bytes
// to read, out the bytes read. Ok (possibly with no byte), PortError, or
// Stopped once the link's stop flag is set.
LinkResult readWithin(PortLink* link, void* buffer, std::uint32_t& count, std::uint32_t start,
                      std::uint32_t limitMs);
