// The data packet checksum, computed bit by bit (no table) so that it shares
// nothing with the tool's table-driven version: CRC-32, polynomial 0x04C11DB7,
// most significant bit first, initial value 0, no final XOR.
#pragma once

#include <cstddef>
#include <cstdint>

namespace devsim {

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count);

}  // namespace devsim
