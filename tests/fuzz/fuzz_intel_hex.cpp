// The Intel HEX reader on arbitrary text. A refusal names a line and carries
// no data; an accepted file's runs lie inside the window, never overlap, and
// each holds at least one byte.
#include <cstdint>
#include <string>

#include "image/intel_hex.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint32_t kWindowStart = 0x108000;
    constexpr std::uint32_t kWindowEnd = 0x13C000;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const HexParse parse = parseIntelHex(text, kWindowStart, kWindowEnd);
    if (!parse.ok) {
        FUZZ_CHECK(parse.error.rfind("line ", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(parse.error.empty());
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < parse.runs.size(); ++i) {
        const HexRun& run = parse.runs[i];
        FUZZ_CHECK(!run.bytes.empty());
        FUZZ_CHECK(run.address >= kWindowStart);
        FUZZ_CHECK(std::uint64_t{run.address} + run.bytes.size() <= kWindowEnd);
        for (std::size_t j = 0; j < i; ++j) {
            const HexRun& other = parse.runs[j];
            const bool apart = run.address + run.bytes.size() <= other.address ||
                               other.address + other.bytes.size() <= run.address;
            FUZZ_CHECK(apart);
        }
        total += run.bytes.size();
    }
    FUZZ_CHECK(total <= kWindowEnd - kWindowStart);
    return 0;
}
