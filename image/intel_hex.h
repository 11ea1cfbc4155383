// Intel HEX image files: text records that carry data for device addresses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One run of consecutive data bytes.
struct HexRun {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
};

struct HexParse {
    bool ok = false;
    std::vector<HexRun>
        runs;           // in file order; data that continues the previous record extends its run
    std::string error;  // when refused: "line N: what is wrong"
};

// Reads the records of `text`: data (00), end of file (01), extended segment
// (02) and extended linear (04) address; start addresses (03, 05) are
// accepted and ignored. Every data byte must lie in [windowStart, windowEnd)
// and no byte may be given twice. A bad checksum, a malformed line, a byte
// outside the window or an overlap refuses the whole file with the line number.
HexParse parseIntelHex(const std::string& text, std::uint32_t windowStart, std::uint32_t windowEnd);
