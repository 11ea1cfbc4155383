#include "protocol/port_link.h"

#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

// The longest single wait in the operating system. Waits longer than this are
// made of several reads, so a stop request is seen within this time.
constexpr std::uint32_t kLongestReadWaitMs = 100;

// How long the next read may wait for its first byte: until just past the
// deadline, at most kLongestReadWaitMs. A replaced tick source runs on its own
// time, which the operating system cannot wait for: then reads return at once.
std::uint32_t readWaitMs(std::uint32_t start, std::uint32_t limitMs) {
    if (!ticksRunInRealTime()) return 0;
    const std::uint32_t elapsed = ticksSince(start);
    if (elapsed > limitMs) return 0;
    const std::uint32_t untilPast = limitMs - elapsed + 1;
    return untilPast < kLongestReadWaitMs ? untilPast : kLongestReadWaitMs;
}

bool stopRequested(const PortLink* link) { return link->stop != nullptr && link->stop->load(); }

}  // namespace

LinkResult writeAll(PortLink* link, const void* bytes, std::int32_t& count) {
    const std::int32_t total = count;
    count = 0;
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    std::uint32_t stallStart = tickCount();
    // A port takes what it can within a short slice; the rest follows until
    // all is out, the device stalls too long, or the stop flag is set.
    while (count < total) {
        if (stopRequested(link)) return {LinkStatus::Stopped};
        std::uint32_t written = static_cast<std::uint32_t>(total - count);
        const int status = writeBytes(link->port, data + count, written);
        count += static_cast<std::int32_t>(written);
        if (status != 0) return portError(status);
        if (written > 0) {
            stallStart = tickCount();
        } else if (ticksSince(stallStart) > kWriteStallLimitMs) {
            return {LinkStatus::TimedOut};
        }
    }
    return {};
}

LinkResult readWithin(PortLink* link, void* buffer, std::uint32_t& count, std::uint32_t start,
                      std::uint32_t limitMs) {
    if (stopRequested(link)) {
        count = 0;
        return {LinkStatus::Stopped};
    }
    const int status = readBytes(link->port, buffer, count, readWaitMs(start, limitMs));
    return status == 0 ? LinkResult{} : portError(status);
}
