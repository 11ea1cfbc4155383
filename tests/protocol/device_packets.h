// Packets as the device sends them, built byte by byte for the tests, plus a
// fixture that opens the tool's port on a scripted peer.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "protocol/port_link.h"
#include "serial/serial_port.h"
#include "tests/support/pty_peer.h"

inline void appendU16(Bytes& bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

inline void appendU32(Bytes& bytes, std::uint32_t value) {
    appendU16(bytes, value & 0xFFFF);
    appendU16(bytes, value >> 16);
}

inline std::uint32_t wordAt(const Bytes& bytes, std::size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline std::uint32_t halfAt(const Bytes& bytes, std::size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8);
}

// A header with `code` at offset 2 and `lengthWords` at offset 4, then that many words.
inline Bytes devicePacket(std::uint16_t code, std::uint16_t lengthWords,
                          std::initializer_list<std::uint32_t> words = {}) {
    Bytes packet;
    appendU16(packet, 0x5AA5);
    appendU16(packet, code);
    appendU16(packet, lengthWords);
    appendU16(packet, 0);
    for (std::uint32_t word : words) appendU32(packet, word);
    while (packet.size() < 8u + 4u * lengthWords) packet.push_back(0xEE);
    return packet;
}

inline Bytes sizeAnnouncement(std::uint32_t maxPacketWords) {
    return devicePacket(0x300B, 2, {maxPacketWords, 0});
}

inline Bytes goAhead() { return devicePacket(1, 0); }

inline Bytes acknowledgement(std::uint32_t subject, std::uint32_t status) {
    return devicePacket(0x0002, 2, {subject, status});
}

inline Bytes startReply() { return acknowledgement(0, 14); }
inline Bytes dataAck() { return acknowledgement(1, 0); }
inline Bytes endAck() { return acknowledgement(2, 9); }

inline Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The tool's side of a scripted line: a peer and the port opened on it.
class PeerPortTest : public ::testing::Test {
  protected:
    void SetUp() override {
        port = createPort(peer.portNumber());
        ASSERT_NE(port->handle, kInvalidPortHandle);
        link.port = port;
    }
    void TearDown() override {
        peer.finishScript();
        closePort(port);
    }

    // Sends bytes and waits until the tool's side can read all of them.
    void deliver(const Bytes& bytes) {
        const std::size_t before = peer.queuedForTool();
        ASSERT_TRUE(peer.send(bytes));
        ASSERT_TRUE(peer.waitUntilQueuedForTool(before + bytes.size()));
    }

    PtyPeer peer;
    SerialPort* port = nullptr;
    PortLink link{nullptr};
};

// The data packet checksum computed bit by bit, independently of the table.
inline std::uint32_t bitwiseCrc(const Bytes& packet, std::size_t dataBytes) {
    std::uint32_t crc = 0;
    auto feed = [&crc](std::uint8_t byte) {
        crc ^= static_cast<std::uint32_t>(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    };
    for (std::size_t i = 0; i < 12; ++i) feed(packet[i]);
    for (std::size_t i = 16; i < 20 + dataBytes; ++i) feed(packet[i]);
    return crc;
}

// Splits what the tool wrote during a transfer into its packets: 8-byte
// commands and end packets, data packets framed by their length field.
inline std::vector<Bytes> splitToolPackets(const Bytes& stream) {
    std::vector<Bytes> packets;
    std::size_t at = 0;
    while (at + 8 <= stream.size()) {
        std::size_t size = 8;
        if (halfAt(stream, at) == 0xF00D && halfAt(stream, at + 2) == 1) {
            size = 8 + 4 * halfAt(stream, at + 4);
        }
        if (at + size > stream.size()) break;
        packets.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at),
                             stream.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    if (at < stream.size())
        packets.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(at), stream.end());
    return packets;
}
