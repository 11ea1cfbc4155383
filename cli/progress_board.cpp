#include "cli/progress_board.h"

#include <algorithm>
#include <cmath>

#include "cli/terminal_text.h"

namespace {

// A terminal redraw at most this often; the last step is always drawn.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

double bytesPerSecond(std::int32_t sent, double seconds) {
    return seconds > 0 ? sent / seconds : 0;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string line;
    for (const std::string& part : parts) {
        if (part.empty()) continue;
        if (!line.empty()) line += "  ";
        line += part;
    }
    return line;
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

ProgressBoard::ProgressBoard(const std::vector<std::string>& ports, Style style, std::FILE* out,
                             int columns)
    : lines_(ports.size()),
      region_(style == Style::InPlace, out, columns, mutex_, [this](std::size_t width) {
          std::vector<std::string> rows;
          for (const Line& line : lines_) rows.push_back(render(line, width));
          return rows;
      }) {
    for (std::size_t i = 0; i < ports.size(); ++i) {
        lines_[i].port = ports[i];
        lines_[i].state = "waiting";
    }
}

std::string ProgressBoard::render(const Line& line, std::size_t columns) const {
    // The layouts from the fullest to the barest, the state not counted:
    // a narrow terminal drops the byte count first, then the rate, then the time left.
    std::vector<std::vector<std::string>> layouts;
    if (!line.transferring) {
        layouts = {{line.port}};
    } else {
        const Clock::time_point until = line.transferEnded ? line.ended : Clock::now();
        const double seconds = std::chrono::duration<double>(until - line.started).count();
        const double rate = bytesPerSecond(line.sent, seconds);
        char percent[16];
        std::snprintf(
            percent, sizeof percent, "%3d%%",
            line.total > 0 ? static_cast<int>(std::int64_t{line.sent} * 100 / line.total) : 0);
        char bytes[48];
        std::snprintf(bytes, sizeof bytes, "%d/%d bytes", line.sent, line.total);
        char perSecond[48];
        std::snprintf(perSecond, sizeof perSecond, "%.0f bytes/s", rate);
        // Once the transfer has ended there is no time left to tell.
        const std::string left =
            line.transferEnded
                ? std::string()
                : formatDuration(rate > 0 ? (line.total - line.sent) / rate : -1) + " left";
        layouts = {{line.port, percent, bytes, perSecond, left},
                   {line.port, percent, perSecond, left},
                   {line.port, percent, left},
                   {line.port, percent}};
    }
    const std::string state = line.transferring && line.state == "writing" ? "" : line.state;
    for (std::vector<std::string> parts : layouts) {
        parts.push_back(state);
        std::string text = joined(parts);
        if (columnsOf(text) <= columns) return text;
    }
    // Even the barest layout is too wide: the state gives way, in whole words.
    const std::string head = joined(layouts.back());
    const std::size_t headColumns = columnsOf(head) + 2;
    if (!state.empty() && headColumns + 4 <= columns) {
        return head + "  " + shortened(state, columns - headColumns);
    }
    return cutTo(head, columns);
}

void ProgressBoard::state(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    Line& line = lines_[port];
    if (line.transferring && !line.transferEnded && text != "writing") {
        line.transferEnded = true;
        line.ended = Clock::now();
    }
    line.state = text;
    if (region_.inPlace()) {
        region_.redraw();
    } else {
        region_.printAbove(line.port + ": " + text);
    }
}

void ProgressBoard::note(std::size_t port, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    region_.printAbove(lines_[port].port + ": " + text);
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
    if (region_.inPlace()) {
        if (last) {
            region_.redraw();
        } else {
            region_.redrawAfter(kRedrawInterval);
        }
        return;
    }
    const int tenth =
        totalBytes > 0 ? static_cast<int>(std::int64_t{sentBytes} * 10 / totalBytes) : 10;
    if (tenth > line.lastTenth && tenth > 0) {
        line.lastTenth = tenth;
        region_.printAbove(render(line, std::string::npos));
    }
}
