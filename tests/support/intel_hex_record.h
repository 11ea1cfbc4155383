// One Intel HEX record as a line's text without its line end: ':', the byte
// count, the 16-bit offset, the type, the data and the checksum, in upper-case
// hexadecimal digit pairs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline std::string intelHexRecord(std::uint8_t type, std::uint16_t offset,
                                  const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(data.size()),
                                    static_cast<std::uint8_t>(offset >> 8),
                                    static_cast<std::uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (std::uint8_t byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
    bytes.push_back(static_cast<std::uint8_t>(-sum));
    std::string line = ":";
    char pair[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    return line;
}
