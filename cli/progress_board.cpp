#include "cli/progress_board.h"

#include <cmath>

namespace {

// A terminal redraw at most this often; the last step is always drawn.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

constexpr const char* kClearLine = "\r\x1b[2K";

double bytesPerSecond(std::int32_t sent, double seconds) {
    return seconds > 0 ? sent / seconds : 0;
}

}  // namespace

std::string formatDuration(double seconds) {
    if (!(seconds >= 0) || seconds > 359999) return "--:--";
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

ProgressBoard::ProgressBoard(const std::vector<std::string>& ports, Style style, std::FILE* out)
    : style_(style), out_(out) {
    for (const std::string& port : ports) {
        Line line;
        line.port = port;
        line.state = "waiting";
        lines_.push_back(line);
    }
}

std::string ProgressBoard::render(const Line& line) const {
    if (!line.transferring) return line.port + "  " + line.state;
    const Clock::time_point until = line.transferEnded ? line.ended : Clock::now();
    const double seconds = std::chrono::duration<double>(until - line.started).count();
    const double rate = bytesPerSecond(line.sent, seconds);
    const int percent =
        line.total > 0 ? static_cast<int>(std::int64_t{line.sent} * 100 / line.total) : 0;
    const double left = rate > 0 ? (line.total - line.sent) / rate : -1;
    char text[160];
    std::snprintf(text, sizeof text, "%3d%%  %d/%d bytes  %.0f bytes/s  %s left", percent,
                  line.sent, line.total, rate, formatDuration(left).c_str());
    std::string rendered = line.port + "  " + text;
    if (line.state != "writing") rendered += "  " + line.state;
    return rendered;
}

void ProgressBoard::printAbove(const std::string& text) {
    if (style_ == Style::InPlace && drawn_) {
        std::fprintf(out_, "\x1b[%zuA", lines_.size());
        std::fprintf(out_, "%s%s\n", kClearLine, text.c_str());
        drawn_ = false;
        redraw();
        return;
    }
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void ProgressBoard::redraw() {
    if (style_ != Style::InPlace) return;
    if (drawn_) std::fprintf(out_, "\x1b[%zuA", lines_.size());
    for (const Line& line : lines_) std::fprintf(out_, "%s%s\n", kClearLine, render(line).c_str());
    std::fflush(out_);
    drawn_ = true;
    lastDraw_ = Clock::now();
}

void ProgressBoard::state(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[port];
    if (line.transferring && !line.transferEnded && text != "writing") {
        line.transferEnded = true;
        line.ended = Clock::now();
    }
    line.state = text;
    if (style_ == Style::InPlace) {
        redraw();
    } else {
        printAbove(line.port + ": " + text);
    }
}

void ProgressBoard::note(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    printAbove(lines_[port].port + ": " + text);
}

void ProgressBoard::transferStarted(std::size_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[port];
    line.transferring = true;
    line.transferEnded = false;
    line.started = Clock::now();
    line.sent = 0;
    line.lastTenth = -1;
}

void ProgressBoard::progress(std::size_t port, std::int32_t sentBytes, std::int32_t totalBytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[port];
    line.sent = sentBytes;
    line.total = totalBytes;
    const bool last = sentBytes >= totalBytes;
    if (style_ == Style::InPlace) {
        if (last || Clock::now() - lastDraw_ >= kRedrawInterval) redraw();
        return;
    }
    const int tenth =
        totalBytes > 0 ? static_cast<int>(std::int64_t{sentBytes} * 10 / totalBytes) : 10;
    if (tenth > line.lastTenth && tenth > 0) {
        line.lastTenth = tenth;
        std::fprintf(out_, "%s\n", render(line).c_str());
        std::fflush(out_);
    }
}
