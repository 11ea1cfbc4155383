// The application firmware's text console: the version query and the command
// that restarts the device into its boot loader.
#pragma once

#include <cstdint>

#include "protocol/port_link.h"

// How long a console reply may take, counted from the end of the command's write.
constexpr std::uint32_t kConsoleReplyLimitMs = 3000;
// Writes `command` whole, then collects the reply a byte at a time into `reply`
// (room for the capacity + 1 bytes; kept NUL-terminated) until it ends in CR LF
// or fills the capacity. `length`: in the capacity, out the reply bytes (0
// unless Ok). TimedOut when no complete reply came within `limitMs`;
// PortError or Stopped.
LinkResult exchangeText(PortLink* link, const char* command, std::int32_t commandLength,
                        char* reply, std::int32_t& length,
                        std::uint32_t limitMs = kConsoleReplyLimitMs);

// Asks the application firmware for its version. Returns the version text (the
// reply after "~Rv0000", usually still ending in CR LF), kept in the link and
// valid until its next query, or nullptr when no acceptable reply came
// within `limitMs`.
const char* queryAppVersion(PortLink* link, std::uint32_t limitMs = kConsoleReplyLimitMs);

// Asks the application firmware to restart into its boot loader. True unless a
// complete reply other than one beginning "~Dboot" came back: silence and a
// port failure count as consent, since a restarting device may not answer.
bool requestBootLoader(PortLink* link);
