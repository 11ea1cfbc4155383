// POSIX: arguments and file names are UTF-8 already; Ctrl-C through SIGINT;
// the byte trace goes to standard error; COMn names links in QUORVEL_PORT_DIR.
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>

#include "cli/system.h"
#include "platform/platform.h"

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

// The number of a "COMn" name (any letter case) as the port layer reads it,
// or -1 for any other name, which is a device path.
long comPortNumber(const std::string& name) {
    if (name.size() <= 3 || name.size() > 3 + 9) return -1;
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return -1;
    }
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (std::isdigit(static_cast<unsigned char>(name[i])) == 0) return -1;
    }
    return std::atol(name.c_str() + 3);
}

std::atomic<bool>* interruptFlag = nullptr;

extern "C" void onInterruptSignal(int) {
    // Only a lock-free atomic store: safe in a signal handler.
    if (interruptFlag != nullptr) interruptFlag->store(true);
}

}  // namespace

std::vector<std::string> commandArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::wstring widePath(const std::string& utf8) {
    // Decodes UTF-8 into code points; a byte that is not valid UTF-8 stands for itself.
    std::wstring wide;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        std::uint32_t code = extra == 0 ? lead : lead & (0x7Fu >> (extra + 1));
        bool valid = (extra > 0 || lead < 0x80) && i + extra < utf8.size();
        for (std::size_t k = 1; valid && k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(utf8[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3Fu);
        }
        wide += static_cast<wchar_t>(valid ? code : lead);
        i += valid ? 1 + extra : 1;
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
    const long number = comPortNumber(port);
    if (number < 0) return std::string();
    const char* folder = std::getenv("QUORVEL_PORT_DIR");
    if (folder != nullptr && *folder != '\0') return std::string();
    return port + " means the link com" + std::to_string(number) +
           " in the folder named by QUORVEL_PORT_DIR, which is " +
           (folder == nullptr ? "not set" : "empty") +
           "; set QUORVEL_PORT_DIR to that folder, or give a device path such as /dev/ttyUSB0";
}
