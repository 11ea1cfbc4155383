#include "tools/devsim/crc32.h"

namespace devsim {

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
    constexpr std::uint32_t kPolynomial = 0x04C11DB7u;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<std::uint32_t>(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ kPolynomial : crc << 1;
        }
    }
    return crc;
}

}  // namespace devsim
