// One line per event of the simulated device, flushed at once so that tests
// can read the file while the simulator runs. Optionally echoed to stderr.
#pragma once

#include <cstdio>
#include <string>

namespace devsim {

class Transcript {
  public:
    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Starts a fresh file (truncated). An empty path keeps no file.
    bool open(const std::string& path);
    void setEcho(bool echo) { echo_ = echo; }
    void setTimestamps(bool timestamps) { timestamps_ = timestamps; }
    void line(const std::string& text);

  private:
    std::FILE* file_ = nullptr;
    bool echo_ = false;
    bool timestamps_ = false;
};

// printf-style formatting into a std::string, for transcript lines.
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));

}  // namespace devsim
