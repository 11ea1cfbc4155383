#include "cli/progress_board.h"

#include <algorithm>
#include <cmath>

#include "cli/system.h"
#include "cli/terminal_text.h"

namespace {

// A terminal redraw at most this often; the last step is always drawn.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

// A line that fills the last column leaves some terminals (the Windows console
// among them) at the start of the next row, and the line end after it would
// then add a row the board does not count: board lines keep that column free.
constexpr std::size_t kSpareColumns = 1;

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
    : style_(style), out_(out), columns_(columns) {
    for (const std::string& port : ports) {
        Line line;
        line.port = port;
        line.state = "waiting";
        lines_.push_back(line);
    }
    // Trace lines written between the board's redraws would break into it.
    if (style_ == Style::InPlace) divertErrorStreamTrace(&ProgressBoard::traceAbove, this);
}

ProgressBoard::~ProgressBoard() {
    if (style_ == Style::InPlace) divertErrorStreamTrace(nullptr, nullptr);
}

void ProgressBoard::traceAbove(const std::string& line, void* board) {
    auto* self = static_cast<ProgressBoard*>(board);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->printAbove(line);
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

void ProgressBoard::printAbove(const std::string& text) {
    if (style_ == Style::InPlace && drawnRows_ > 0) {
        // Up to the board's first row and clear everything below: the text
        // takes the board's place and the board is drawn anew under it, so no
        // copy of the board stays behind.
        std::fprintf(out_, "\x1b[%zuA\r\x1b[J", drawnRows_);
        drawnRows_ = 0;
    }
    std::fprintf(out_, "%s\n", text.c_str());
    if (style_ == Style::InPlace) {
        redraw();
    } else {
        std::fflush(out_);
    }
}

void ProgressBoard::redraw() {
    if (style_ != Style::InPlace) return;
    const int width = std::max(columns_ > 0 ? columns_ : errorStreamColumns(), 2);
    const std::size_t columns = static_cast<std::size_t>(width) - kSpareColumns;
    if (drawnRows_ > 0) std::fprintf(out_, "\x1b[%zuA", drawnRows_);
    for (const Line& line : lines_) {
        std::fprintf(out_, "\r\x1b[2K%s\n", render(line, columns).c_str());
    }
    std::fflush(out_);
    drawnRows_ = lines_.size();
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
        std::fprintf(out_, "%s\n", render(line, std::string::npos).c_str());
        std::fflush(out_);
    }
}
