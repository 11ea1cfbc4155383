// POSIX: arguments and file names are bytes, UTF-8 as a rule; Ctrl-C through
// SIGINT; the byte trace goes to standard error; COMn names links in QUORVEL_PORT_DIR.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "cli/system.h"
#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

constexpr int kDefaultColumns = 80;

struct TraceDiversion {
    TraceSink sink = nullptr;
    void* context = nullptr;
};
// Written only while no hook of ours is installed; the hook reads it.
TraceDiversion traceDiversion;
bool traceDiverted = false;

void forwardTraceLine(const std::wstring& text, void* diversion) {
    std::string line;
    line.reserve(text.size());
    for (wchar_t c : text) line.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    const auto* target = static_cast<const TraceDiversion*>(diversion);
    target->sink(line, target->context);
}

std::atomic<bool>* interruptFlag = nullptr;

extern "C" void onInterruptSignal(int) {
    // Only a lock-free atomic store: safe in a signal handler.
    if (interruptFlag != nullptr) interruptFlag->store(true);
}

// The length of the UTF-8 sequence at `at`, with its code point in `code`; 0
// when the bytes there are not valid UTF-8. Overlong forms, surrogates and
// values above U+10FFFF are not, so that decoding never merges or changes bytes.
std::size_t validUtf8Sequence(const std::string& text, std::size_t at, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

std::vector<std::string> commandArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::wstring widePath(const std::string& utf8) {
    // File names are bytes, not always UTF-8. A byte outside valid UTF-8
    // becomes U+DC00 + byte (the lone-surrogate escape Python uses), which the
    // image files' POSIX access turns back into that byte: every name opens.
    std::wstring wide;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t code = 0;
        const std::size_t length = validUtf8Sequence(utf8, i, code);
        wide +=
            static_cast<wchar_t>(length > 0 ? code : 0xDC00u + static_cast<unsigned char>(utf8[i]));
        i += length > 0 ? length : 1;
    }
    return wide;
}

bool errorStreamIsTerminal() { return isatty(STDERR_FILENO) == 1; }

int errorStreamColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0) return kDefaultColumns;
    return size.ws_col;
}

void divertErrorStreamTrace(TraceSink sink, void* context) {
    if (traceDiverted) {
        setDebugOutputHook(nullptr, nullptr);
        traceDiverted = false;
    }
    // An installed hook counts as a listener and would switch the trace on
    // for everyone: divert it only when it is on already (QUORVEL_TRACE).
    if (sink == nullptr || !debugOutputListened()) return;
    traceDiversion = {sink, context};
    setDebugOutputHook(&forwardTraceLine, &traceDiversion);
    traceDiverted = true;
}

void setOnInterrupt(std::atomic<bool>& flag) {
    interruptFlag = &flag;
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking poll returns early and sees the flag.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// Nothing waits for the results here: a signal only sets the flag.
void interruptHandled() {}

std::string portNameProblem(const std::string& port) {
    std::int32_t number = 0;
    if (!comPortNumber(port, number)) return std::string();
    const char* folder = std::getenv("QUORVEL_PORT_DIR");
    if (folder != nullptr && *folder != '\0') return std::string();
    return port + " means the link com" + std::to_string(number) +
           " in the folder named by QUORVEL_PORT_DIR, which is " +
           (folder == nullptr ? "not set" : "empty") +
           "; set QUORVEL_PORT_DIR to that folder, or give a device path such as /dev/ttyUSB0";
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

std::string utcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string systemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }
