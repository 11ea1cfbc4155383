// CRC-32 of the boot loader's data packets: polynomial 0x04C11DB7, most
// significant bit first, initial value 0, no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::uint32_t kCrcPolynomial = 0x04C11DB7u;

// One entry per byte value; filled on first use of the checksum.
extern std::uint32_t crcTable[256];

// Fills crcTable. The checksum functions call it once per process on their own.
void buildCrcTable();

// Continues `crc` over `count` bytes.
std::uint32_t crcUpdate(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

// The checksum of a laid-out data packet carrying `dataBytes` image bytes: it
// covers bytes 0-11 and 16 to 19 + dataBytes, never the checksum field itself
// or the pad bytes. A negative count covers no data bytes.
std::uint32_t packetCrc(const std::uint8_t* packet, std::int32_t dataBytes);
