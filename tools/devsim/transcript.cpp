#include "tools/devsim/transcript.h"

#include <cstdarg>
#include <ctime>

namespace devsim {

Transcript::~Transcript() {
    if (file_ != nullptr) std::fclose(file_);
}

bool Transcript::open(const std::string& path) {
    if (path.empty()) return true;
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void Transcript::line(const std::string& text) {
    if (file_ != nullptr) {
        std::fprintf(file_, "%s", text.c_str());
        if (timestamps_) {
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(file_, " t=%ld.%06ld", static_cast<long>(now.tv_sec), now.tv_nsec / 1000);
        }
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    if (echo_) std::fprintf(stderr, "devsim: %s\n", text.c_str());
}

std::string format(const char* pattern, ...) {
    char buffer[512];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, arguments);
    va_end(arguments);
    return buffer;
}

}  // namespace devsim
