// Rows kept at the bottom of a terminal and redrawn in place, with other lines
// printed above them; otherwise (a file, a pipe, or when asked) just the
// lines, each flushed as it is printed. While it draws in place, the port's
// byte trace is printed above the rows too, since trace lines written between
// two redraws would break into them. The progress board and the station board
// both draw through it.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class TerminalRegion {
  public:
    // The rows to draw, each within `columns` characters.
    using Rows = std::function<std::vector<std::string>(std::size_t columns)>;

    // `columns`: the terminal's width; 0 asks the terminal of standard error at
    // every redraw, so that a resized window is followed. `ownerLock` is the
    // lock under which the owner calls every member; `rows` is called under it.
    TerminalRegion(bool inPlace, std::FILE* out, int columns, std::mutex& ownerLock, Rows rows);
    ~TerminalRegion();
    TerminalRegion(const TerminalRegion&) = delete;
    TerminalRegion& operator=(const TerminalRegion&) = delete;

    bool inPlace() const { return inPlace_; }

    // `text` as a line above the rows, on `stream` (standard output, say, when
    // it shows on the same terminal) or on the region's own.
    void printAbove(const std::string& text, std::FILE* stream = nullptr);
    // Draws the rows anew; nothing when not in place.
    void redraw();
    // Redraws when the last drawing is at least `interval` old.
    void redrawAfter(std::chrono::milliseconds interval);

  private:
    static void traceAbove(const std::string& line, void* region);

    const bool inPlace_;
    std::FILE* const out_;
    const int columns_;
    std::mutex& ownerLock_;
    const Rows rows_;
    std::size_t drawnRows_ = 0;  // rows on the screen, above the cursor
    std::chrono::steady_clock::time_point lastDraw_{};
};
