// The progress of every port on standard error. On a terminal one line per
// port, redrawn in place: port, percent, bytes, bytes per second, time left,
// each line kept within the terminal's width. Otherwise a plain line per port
// at every 10 %. Other lines about a port (its steps, its log) and, while the
// board is drawn in place, the byte trace go above the board. Safe to call
// from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/terminal_region.h"

class ProgressBoard {
  public:
    enum class Style { InPlace, Plain };

    // `columns`: the terminal's width; 0 asks the terminal of standard error
    // at every redraw, so that a resized window is followed.
    ProgressBoard(const std::vector<std::string>& ports, Style style, std::FILE* out,
                  int columns = 0);
    ProgressBoard(const ProgressBoard&) = delete;
    ProgressBoard& operator=(const ProgressBoard&) = delete;

    // What the port is doing now: shown on its line, or printed as a plain line.
    void state(std::size_t port, const std::string& text);
    // A line about the port printed above the board.
    void note(std::size_t port, const std::string& text);
    // The transfer begins: rate and time left count from here.
    void transferStarted(std::size_t port);
    void progress(std::size_t port, std::int32_t sentBytes, std::int32_t totalBytes);

  private:
    using Clock = std::chrono::steady_clock;

    struct Line {
        std::string port;
        std::string state;
        bool transferring = false;
        bool transferEnded = false;
        Clock::time_point started;
        Clock::time_point ended;  // the rate stays as it was at the transfer's end
        std::int32_t sent = 0;
        std::int32_t total = 0;
        int lastTenth = -1;  // the last 10 % step printed in the plain style
    };

    // The line in at most `columns` characters.
    std::string render(const Line& line, std::size_t columns) const;

    std::mutex mutex_;
    std::vector<Line> lines_;
    TerminalRegion region_;  // last: it draws `lines_` under `mutex_`
};

// "1:05" for 65 seconds, "--:--" when unknown.
std::string formatDuration(double seconds);
