// Checksum and packet layouts, byte for byte; no port involved.
#include "protocol/packet_layout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "protocol/crc32.h"

namespace {

using Packet = std::vector<std::uint8_t>;

std::uint32_t crcOf(const char* text) {
    return crcUpdate(0, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
}

Packet dataPacket(std::uint32_t address, const Packet& data, std::uint32_t flags) {
    Packet packet(data.size() + 24, 0xCC);
    const std::int32_t size = layOutDataPacket(packet.data(), address, data.data(),
                                               static_cast<std::int32_t>(data.size()), flags);
    packet.resize(static_cast<std::size_t>(size));
    return packet;
}

TEST(Crc, CheckValuesAndTable) {
    EXPECT_EQ(crcOf("123456789"), 0x89A1897Fu);
    EXPECT_EQ(crcOf(""), 0u);
    EXPECT_EQ(crcTable[1], 0x04C11DB7u);
    EXPECT_EQ(crcTable[128], 0x690CE0EEu);
    EXPECT_EQ(crcTable[255], 0xB1F740B4u);
}

TEST(Crc, PacketChecksumSkipsChecksumFieldAndPad) {
    Packet packet = dataPacket(0x108000, {1, 2, 3, 4, 5}, 0);
    const std::uint32_t original = packetCrc(packet.data(), 5);
    for (std::size_t offset : {12u, 13u, 14u, 15u, 25u, 26u, 27u}) {
        Packet changed = packet;
        changed[offset] ^= 0xFF;
        EXPECT_EQ(packetCrc(changed.data(), 5), original) << "offset " << offset;
    }
    for (std::size_t offset : {0u, 4u, 8u, 11u, 16u, 19u, 20u, 24u}) {
        Packet changed = packet;
        changed[offset] ^= 0x01;
        EXPECT_NE(packetCrc(changed.data(), 5), original) << "offset " << offset;
    }
}

TEST(PacketLayout, WorkedDataPackets) {
    EXPECT_EQ(dataPacket(0x00108000, {1, 2, 3, 4, 5}, 0),
              (Packet{0x0d, 0xf0, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x80,
                      0x10, 0x00, 0x98, 0x2c, 0x74, 0xfb, 0x06, 0x00, 0x00, 0x00,
                      0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(dataPacket(0x0013C000, {0x61, 0x62, 0x63}, 0),
              (Packet{0x0d, 0xf0, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x13, 0x00,
                      0x6f, 0x7a, 0xc2, 0x72, 0x02, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00}));
}

TEST(PacketLayout, DataPacketFlagsTakeOnlyBitZeroOfTheTransferFlags) {
    Packet full = dataPacket(0x10, {1, 2, 3, 4, 5, 6, 7, 8}, 0xA5A50001);
    ASSERT_EQ(full.size(), 28u);
    EXPECT_EQ(full[4], 5);  // 3 + 2 words
    EXPECT_EQ((Packet{full.begin() + 16, full.begin() + 20}), (Packet{1, 0, 0, 0}));
    Packet odd = dataPacket(0x10, {9, 9}, 0xA5A50000);
    EXPECT_EQ((Packet{odd.begin() + 16, odd.begin() + 20}), (Packet{4, 0, 0, 0}));
}

TEST(PacketLayout, FixedPackets) {
    Packet packet(8);
    layOutCommand(packet.data(), kStartCommand, 0xA5A50000);
    EXPECT_EQ(packet, (Packet{0x01, 0x00, 0x0e, 0x00, 0x00, 0x00, 0xa5, 0xa5}));
    layOutCommand(packet.data(), kBlockStartCommand, kBlockStartParameter);
    EXPECT_EQ(packet, (Packet{0x01, 0x00, 0x00, 0xf0, 0x01, 0x00, 0x00, 0x00}));
    layOutEndPacket(packet.data());
    EXPECT_EQ(packet, (Packet{0x0d, 0xf0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00}));
    layOutVersionRequest(packet.data());
    EXPECT_EQ(packet, (Packet{0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

}  // namespace
