#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "platform/platform_backend.h"

std::uint32_t systemTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void sleepMilliseconds(std::uint32_t milliseconds) {
    timespec pause{};
    pause.tv_sec = static_cast<time_t>(milliseconds / 1000u);
    pause.tv_nsec = static_cast<long>(milliseconds % 1000u) * 1000000L;
    while (nanosleep(&pause, &pause) != 0) {
    }
}

// There is no debugger channel on Linux: the trace goes to standard error when
// QUORVEL_TRACE is set, and nowhere otherwise.
bool systemDebugOutputListened() {
    static const bool enabled = std::getenv("QUORVEL_TRACE") != nullptr;
    return enabled;
}

void systemDebugOutput(const std::wstring& text) {
    if (!systemDebugOutputListened()) return;
    std::string narrow;
    narrow.reserve(text.size());
    for (wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    std::fputs(narrow.c_str(), stderr);
}
