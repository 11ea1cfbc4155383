// POSIX: arguments and file names are UTF-8 already; Ctrl-C through SIGINT.
#include <signal.h>
#include <unistd.h>

#include <cstdint>

#include "cli/system.h"

namespace {

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

void setOnInterrupt(std::atomic<bool>& flag) {
    interruptFlag = &flag;
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking poll returns early and sees the flag.
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
