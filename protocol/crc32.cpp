#include "protocol/crc32.h"

#include <atomic>
#include <mutex>

#include "protocol/packet_layout.h"

std::uint32_t crcTable[256];

namespace {

// Set until the table has been built; the once-flag makes two threads that
// arrive together build it exactly once, and the flag lets later calls skip
// the synchronisation altogether.
std::atomic<bool> crcTableStale{true};
std::once_flag crcTableBuilt;

void ensureCrcTable() {
    if (!crcTableStale.load(std::memory_order_acquire)) return;
    std::call_once(crcTableBuilt, [] {
        buildCrcTable();
        crcTableStale.store(false, std::memory_order_release);
    });
}

}  // namespace

void buildCrcTable() {
    for (std::uint32_t index = 0; index < 256; ++index) {
        std::uint32_t value = index << 24;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 0x80000000u) != 0 ? (value << 1) ^ kCrcPolynomial : value << 1;
        }
        crcTable[index] = value;
    }
}

std::uint32_t crcUpdate(std::uint32_t crc, const std::uint8_t* bytes, std::size_t count) {
    ensureCrcTable();
    for (std::size_t i = 0; i < count; ++i) {
        crc = (crc << 8) ^ crcTable[(crc >> 24) ^ bytes[i]];
    }
    return crc;
}

std::uint32_t packetCrc(const std::uint8_t* packet, std::int32_t dataBytes) {
    // Header and address up to the checksum field, then the flags word and the data.
    const std::size_t data = dataBytes > 0 ? static_cast<std::size_t>(dataBytes) : 0;
    const std::uint32_t crc = crcUpdate(0, packet, kChecksumOffset);
    return crcUpdate(crc, packet + kFlagsOffset, kDataOffset - kFlagsOffset + data);
}
