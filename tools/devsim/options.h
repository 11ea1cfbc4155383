// Command line of the simulator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/devsim/faults.h"

namespace devsim {

// None: the slot starts empty, without a board, until a "place" control command.
enum class Program { App, Boot, None };

struct Options {
    Program start = Program::App;
    std::string appVersion = "1.2.3";
    std::uint32_t bootVersion = 0x12340AFF;
    std::vector<std::uint32_t> announcements{64};
    std::uint32_t noisePackets = 0;
    std::uint32_t bootDelayMs = 200;
    std::uint32_t vanishMs = 0;
    std::uint32_t endStatus = 9;
    std::uint32_t baud = 0;
    std::uint32_t latencyMs = 0;
    std::uint32_t adapterLatencyMs = 0;  // 0: no adapter holds the device's bytes back
    std::string linkPath;
    std::string flashPath;
    std::uint32_t flashBase = 0x108000;
    std::string transcriptPath;
    std::string controlPath;
    FaultSet faults;
    bool verbose = false;
    bool timestamps = false;
    bool help = false;
};

// A decimal or 0x hexadecimal number of 32 bits.
bool parseNumber(const std::string& text, std::uint32_t& value);

// False with a message in `error` for an unknown option or a bad value.
bool parseOptions(int argc, const char* const* argv, Options& options, std::string& error);
std::string helpText();

}  // namespace devsim
