// The station's board on standard error. On a terminal, redrawn in place: a
// header (passed, failed, yield, boards per hour, run time) and one line per
// slot (port, state, unit and serial), each within the terminal's width, with
// notes printed above it. Otherwise one line per state change. Safe to call
// from any thread.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "cli/terminal_region.h"

class StationBoard {
  public:
    enum class Style { InPlace, Plain };

    // `columns`: the terminal's width; 0 asks the terminal of standard error.
    StationBoard(const std::vector<std::string>& ports, Style style, std::FILE* out,
                 int columns = 0);
    StationBoard(const StationBoard&) = delete;
    StationBoard& operator=(const StationBoard&) = delete;

    // The slot's state ("waiting", "flashing", "PASS", "FAIL <reason>",
    // "remove board") and the unit on it ("unit 3  serial 1002"), may be empty.
    void slot(std::size_t index, const std::string& state, const std::string& unit);
    // The percentage of the slot's transfer: shown on its line, never as a plain line.
    void percent(std::size_t index, int percent);
    // The header's counts, and a remark after them ("stopping: ...").
    void totals(int passed, int failed, const std::string& remark);
    // The database's state, shown in the header once the station has one.
    void database(const std::string& state);
    // A line printed above the board, on `stream` (standard output, say, when
    // it shows on the same terminal) or on the board's own.
    void note(const std::string& text, std::FILE* stream = nullptr);
    // Redraws for the run time; call it now and then.
    void tick();
    // The summary: the header's figures on one line.
    std::string summary();

  private:
    struct Slot {
        std::string port;
        std::string state = "waiting";
        std::string unit;
        int percent = -1;
    };

    std::string header() const;
    std::string render(const Slot& slot) const;

    std::mutex mutex_;
    std::vector<Slot> slots_;
    int passed_ = 0;
    int failed_ = 0;
    std::string remark_;
    std::string database_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    TerminalRegion region_;  // last: it draws the board under `mutex_`
};

// Boards per hour for `boards` in `seconds`; 0 for less than a second.
double boardsPerHour(int boards, double seconds);
