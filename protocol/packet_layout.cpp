#include "protocol/packet_layout.h"

#include <cstring>

#include "protocol/crc32.h"

std::int32_t layOutDataPacket(std::uint8_t* packet, std::uint32_t address, const std::uint8_t* data,
                              std::int32_t dataBytes, std::uint32_t transferFlags) {
    const std::int32_t pad = (kWordBytes - dataBytes % kWordBytes) % kWordBytes;
    const std::int32_t payloadWords = (dataBytes + pad) / kWordBytes;
    putU16(packet, kDataTag);
    putU16(packet + kCodeOffset, kDataKind);
    putU16(packet + kLengthOffset,
           static_cast<std::uint16_t>(kDataPacketOverheadWords + payloadWords));
    putU16(packet + kReservedOffset, 0);
    putU32(packet + kAddressOffset, address);
    putU32(packet + kFlagsOffset, (transferFlags & kTransferFlagBit) |
                                      (static_cast<std::uint32_t>(pad) << kPadCountShift));
    std::memcpy(packet + kDataOffset, data, static_cast<std::size_t>(dataBytes));
    std::memset(packet + kDataOffset + dataBytes, 0, static_cast<std::size_t>(pad));
    putU32(packet + kChecksumOffset, packetCrc(packet, dataBytes));
    return kDataOffset + dataBytes + pad;
}
