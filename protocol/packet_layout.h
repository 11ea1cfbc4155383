// Byte layout of the boot loader's packets: an 8-byte header followed by a
// payload counted in 32-bit words, every multi-byte field little-endian.
#pragma once

#include <cstdint>

constexpr std::int32_t kHeaderBytes = 8;
constexpr std::int32_t kWordBytes = 4;

// Header fields present in every received packet.
constexpr std::int32_t kCodeOffset = 2;    // u16: what the packet is
constexpr std::int32_t kLengthOffset = 4;  // u16: words after the header
// A received packet whose first byte is '@' is the header alone, whatever its length field says.
constexpr std::uint8_t kHeaderOnlyMarker = 0x40;

// Command packets: u16 tag, u16 code, u32 parameter.
constexpr std::uint16_t kCommandTag = 0x0001;
constexpr std::uint16_t kStartCommand = 14;  // parameter: the transfer's flags word
constexpr std::uint16_t kBlockStartCommand = 0xF000;
constexpr std::uint32_t kBlockStartParameter = 1;
constexpr std::int32_t kParameterOffset = 4;

// Version request and reply: u16 0, u16 15, u32 (0 in the request, the version in the reply).
constexpr std::uint16_t kVersionTag = 0x0000;
constexpr std::uint16_t kVersionCode = 15;
constexpr std::int32_t kVersionOffset = 4;

// Data and end packets sent to the device.
constexpr std::uint16_t kDataTag = 0xF00D;
constexpr std::uint16_t kDataKind = 1;
constexpr std::uint16_t kEndKind = 2;
constexpr std::int32_t kReservedOffset = 6;
constexpr std::int32_t kAddressOffset = 8;
constexpr std::int32_t kChecksumOffset = 12;
constexpr std::int32_t kFlagsOffset = 16;
constexpr std::int32_t kDataOffset = 20;
// Header, address, checksum and flags words counted by a data packet's length field.
constexpr std::int32_t kDataPacketOverheadWords = 3;
constexpr std::uint32_t kTransferFlagBit = 0x1;  // copied from the transfer's flags word
constexpr int kPadCountShift = 1;                // bits 1-2 of the flags field: pad bytes

// Packets received while a block is negotiated and sent.
constexpr std::uint16_t kGoAheadCode = 1;
constexpr std::uint16_t kSizeAnnouncementCode = 0x300B;
constexpr std::int32_t kMaxPacketWordsOffset = 8;  // u32 in a size announcement
constexpr std::int32_t kAcknowledgementBytes = 16;
constexpr std::int32_t kSubjectOffset = 8;  // u32 in an acknowledgement
constexpr std::int32_t kStatusOffset = 12;  // u32 in an acknowledgement

inline void putU16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

inline void putU32(std::uint8_t* at, std::uint32_t value) {
    putU16(at, static_cast<std::uint16_t>(value));
    putU16(at + 2, static_cast<std::uint16_t>(value >> 16));
}

inline std::uint16_t getU16(const std::uint8_t* at) {
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t getU32(const std::uint8_t* at) {
    return getU16(at) | (static_cast<std::uint32_t>(getU16(at + 2)) << 16);
}

// The fixed 8-byte packets.
inline void layOutCommand(std::uint8_t* packet, std::uint16_t code, std::uint32_t parameter) {
    putU16(packet, kCommandTag);
    putU16(packet + kCodeOffset, code);
    putU32(packet + kParameterOffset, parameter);
}

inline void layOutVersionRequest(std::uint8_t* packet) {
    putU16(packet, kVersionTag);
    putU16(packet + kCodeOffset, kVersionCode);
    putU32(packet + kVersionOffset, 0);
}

inline void layOutEndPacket(std::uint8_t* packet) {
    putU16(packet, kDataTag);
    putU16(packet + kCodeOffset, kEndKind);
    putU16(packet + kLengthOffset, 0);
    putU16(packet + kReservedOffset, 0);
}

// Lays out a complete data packet for `dataBytes` (at least 1) bytes at `address`
// into `packet`, which has room for 20 + dataBytes + 3 bytes: header, address,
// flags (bit 0 of `transferFlags`, the pad count), data, zero pad and checksum.
// Returns the packet's size in bytes, a multiple of 4.
std::int32_t layOutDataPacket(std::uint8_t* packet, std::uint32_t address, const std::uint8_t* data,
                              std::int32_t dataBytes, std::uint32_t transferFlags);
