#include "protocol/console.h"

#include <cstring>

#include "platform/platform.h"

namespace {

constexpr char kVersionQuery[] = "~rv\r\n";
constexpr char kVersionReplyStart[] = "~Rv0000";
constexpr char kBootSwitch[] = "~dboot\r\n";
constexpr char kBootSwitchReplyStart[] = "~Dboot";

constexpr std::int32_t textLength(const char* text) {
    std::int32_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

bool startsWith(const char* reply, std::int32_t length, const char* expected) {
    const std::int32_t expectedLength = textLength(expected);
    return length >= expectedLength &&
           std::memcmp(reply, expected, static_cast<std::size_t>(expectedLength)) == 0;
}

}  // namespace

LinkResult exchangeText(PortLink* link, const char* command, std::int32_t commandLength,
                        char* reply, std::int32_t& length, std::uint32_t limitMs) {
    const std::int32_t capacity = length;
    length = 0;
    std::int32_t written = commandLength;
    const LinkResult status = writeAll(link, command, written);
    if (!status.ok()) return status;

    const std::uint32_t start = tickCount();
    if (capacity <= 0) return {};
    std::int32_t received = 0;
    reply[0] = '\0';
    do {
        // One byte per read, so nothing behind the reply's CR LF leaves the port.
        std::uint32_t count = 1;
        const LinkResult readStatus = readWithin(link, reply + received, count, start, limitMs);
        if (!readStatus.ok()) return readStatus;
        received += static_cast<std::int32_t>(count);
        reply[received] = '\0';
        // The end test comes first: a reply completed by a late read still counts.
        if (received >= 2 && reply[received - 2] == '\r' && reply[received - 1] == '\n') {
            length = received;
            return {};
        }
        if (ticksSince(start) > limitMs) return {LinkStatus::TimedOut};
    } while (received < capacity);
    length = capacity;
    return {};
}

const char* queryAppVersion(PortLink* link, std::uint32_t limitMs) {
    std::int32_t length = kConsoleReplyCapacity;
    const LinkResult status = exchangeText(link, kVersionQuery, textLength(kVersionQuery),
                                           link->appVersionReply, length, limitMs);
    // The reply must carry at least one byte after its fixed beginning.
    const std::int32_t prefix = textLength(kVersionReplyStart);
    if (!status.ok() || length <= prefix ||
        !startsWith(link->appVersionReply, length, kVersionReplyStart)) {
        return nullptr;
    }
    return link->appVersionReply + prefix;
}

bool requestBootLoader(PortLink* link) {
    std::int32_t length = kConsoleReplyCapacity;
    const LinkResult status =
        exchangeText(link, kBootSwitch, textLength(kBootSwitch), link->bootSwitchReply, length);
    if (!status.ok()) return true;
    return startsWith(link->bootSwitchReply, length, kBootSwitchReplyStart);
}
