// Boot loader packet I/O: command packets, the version query, whole writes and
// the reader that takes exactly one packet from the port.
#pragma once

#include <cstdint>

#include "protocol/packet_layout.h"
#include "protocol/port_link.h"

// How long readPacket waits for the next byte before giving up on the device.
constexpr std::uint32_t kPacketIdleLimitMs = 20000;
// How long queryBootVersion waits for a valid version reply.
constexpr std::uint32_t kBootVersionLimitMs = 3000;

// Writes the 8-byte command packet (tag 1, code, parameter).
LinkResult sendCommand(PortLink* link, std::uint16_t code, std::uint32_t parameter);

// Asks the boot loader for its version word. Ok with `version` set; TimedOut
// when no valid reply came within `limitMs`; PortError or Stopped. The reply
// is read in 8-byte frames; frames of another kind are dropped.
LinkResult queryBootVersion(PortLink* link, std::uint32_t& version,
                            std::uint32_t limitMs = kBootVersionLimitMs);

// Reads exactly one packet, never a byte of the next. `count`: in the capacity
// of `destination`, out the bytes copied. Ok = the whole packet was copied;
// Truncated = the packet is longer than the capacity (or than the receive
// buffer) and its first bytes were copied; TimedOut = no byte arrived for
// kPacketIdleLimitMs; PortError or Stopped with count 0. After Ok or Truncated
// the link's receive area holds the packet.
LinkResult readPacket(PortLink* link, void* destination, std::int32_t& count);
