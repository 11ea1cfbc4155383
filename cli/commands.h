// The commands. Each prints its results on standard output (text, or
// one JSON document) and returns the exit status.
#pragma once

#include <atomic>
#include <string>
#include <vector>

int runPortsCommand(bool json);

int runInfoCommand(const std::string& port, bool json, std::atomic<bool>& stop);

struct FlashOptions {
    std::vector<std::string> ports;  // in the order given
    std::string imagePath;           // UTF-8
    bool json = false;
    bool plainProgress = false;  // a line per 10 % even on a terminal
};

int runFlashCommand(const FlashOptions& options, std::atomic<bool>& stop);

// Summarises a station's record log (JSON Lines), overall and per slot.
int runReportCommand(const std::string& path, bool json);
