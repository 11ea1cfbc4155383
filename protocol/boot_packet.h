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

// readPacket's result for a packet longer than the destination: its first
// bytes were copied. Test it with packetTruncated(), which tells it apart from
// a failed read reporting OS error code 1.
constexpr int kPacketTruncated = 1;

// Writes the 8-byte command packet (tag 1, code, parameter). 0 or the OS error code.
int sendCommand(PortLink* link, std::uint16_t code, std::uint32_t parameter);

// Asks the boot loader for its version word. 0 with `version` set; kTimedOut when
// no valid reply came within kBootVersionLimitMs; or the OS error code of a failed
// write or read. The reply is read in 8-byte frames; frames of another kind are dropped.
int queryBootVersion(PortLink* link, std::uint32_t& version);

// Reads exactly one packet, never a byte of the next. `count`: in the capacity
// of `destination`, out the bytes copied. Results: 0 = the whole packet was
// copied; kPacketTruncated = the packet is longer than the capacity (or than the
// receive buffer) and its first bytes were copied; kTimedOut = no byte arrived
// for kPacketIdleLimitMs; otherwise the OS error code of a failed read (count 0).
// After 0 or kPacketTruncated the link's receive area holds the packet.
int readPacket(PortLink* link, void* destination, std::int32_t& count);

// True when readPacket's `result` on `link` reports a packet longer than the
// destination, false for success and for any failed read, including OS error
// code 1: only a completed packet sets the receive area's packet length.
bool packetTruncated(const PortLink* link, int result);
