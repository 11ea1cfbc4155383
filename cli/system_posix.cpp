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
std::atomic<bool>* hangUpFlag = nullptr;

extern "C" void onInterruptSignal(int signal) {
    // Only lock-free atomic stores: safe in a signal handler.
    std::atomic<bool>* flag =
        signal == SIGINT || hangUpFlag == nullptr ? interruptFlag : hangUpFlag;
    if (flag != nullptr) flag->store(true);
}

}  // namespace

std::vector<std::string> commandArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
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

void setOnInterrupt(std::atomic<bool>& flag, std::atomic<bool>* hangUp) {
    interruptFlag = &flag;
    hangUpFlag = hangUp;
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking poll returns early and sees the flag.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
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
