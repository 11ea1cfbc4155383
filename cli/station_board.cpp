#include "cli/station_board.h"

#include <algorithm>

#include "cli/progress_board.h"
#include "cli/system.h"
#include "cli/terminal_text.h"

namespace {

// A progress redraw at most this often.
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);

}  // namespace

double boardsPerHour(int boards, double seconds) {
    return seconds >= 1 ? boards * 3600.0 / seconds : 0;
}

StationBoard::StationBoard(const std::vector<std::string>& ports, Style style, std::FILE* out,
                           int columns)
    : style_(style), out_(out), columns_(columns) {
    for (const std::string& port : ports) {
        Slot slot;
        slot.port = port;
        slots_.push_back(slot);
    }
    if (style_ == Style::InPlace) divertErrorStreamTrace(&StationBoard::traceAbove, this);
}

StationBoard::~StationBoard() {
    if (style_ == Style::InPlace) divertErrorStreamTrace(nullptr, nullptr);
}

void StationBoard::traceAbove(const std::string& line, void* board) {
    auto* self = static_cast<StationBoard*>(board);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->printAbove(line);
}

std::string StationBoard::header() const {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const int units = passed_ + failed_;
    char yield[32] = "-";
    if (units > 0) std::snprintf(yield, sizeof yield, "%.1f %%", 100.0 * passed_ / units);
    char text[192];
    std::snprintf(text, sizeof text, "passed %d  failed %d  yield %s  %.0f boards/h  run %s",
                  passed_, failed_, yield, boardsPerHour(units, seconds),
                  formatDuration(seconds).c_str());
    std::string line = text;
    if (!database_.empty()) line += "  " + database_;
    return remark_.empty() ? line : line + "  " + remark_;
}

std::string StationBoard::render(const Slot& slot) const {
    std::string state = slot.state;
    if (state == "flashing" && slot.percent >= 0)
        state += " " + std::to_string(slot.percent) + " %";
    std::string line = slot.port + "  " + state;
    if (!slot.unit.empty()) line += "  " + slot.unit;
    return line;
}

void StationBoard::printAbove(const std::string& text, std::FILE* stream) {
    if (style_ == Style::InPlace && drawnRows_ > 0) {
        // The text takes the board's place and the board is drawn anew under it.
        std::fprintf(out_, "\x1b[%zuA\r\x1b[J", drawnRows_);
        std::fflush(out_);
        drawnRows_ = 0;
    }
    std::FILE* to = stream != nullptr ? stream : out_;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    redraw();
}

void StationBoard::redraw() {
    if (style_ != Style::InPlace) return;
    const int width = std::max(columns_ > 0 ? columns_ : errorStreamColumns(), 2);
    // The last column stays free: a full line would leave some terminals on the next row.
    const std::size_t columns = static_cast<std::size_t>(width) - 1;
    if (drawnRows_ > 0) std::fprintf(out_, "\x1b[%zuA", drawnRows_);
    std::fprintf(out_, "\r\x1b[2K%s\n", shortened(header(), columns).c_str());
    for (const Slot& slot : slots_) {
        std::fprintf(out_, "\r\x1b[2K%s\n", shortened(render(slot), columns).c_str());
    }
    std::fflush(out_);
    drawnRows_ = slots_.size() + 1;
    lastDraw_ = std::chrono::steady_clock::now();
}

void StationBoard::slot(std::size_t index, const std::string& state, const std::string& unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    slot.state = state;
    slot.unit = unit;
    slot.percent = -1;
    if (style_ == Style::InPlace) {
        redraw();
    } else {
        printAbove(render(slot));
    }
}

void StationBoard::percent(std::size_t index, int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    if (slot.percent == percent) return;
    slot.percent = percent;
    if (style_ == Style::InPlace &&
        (percent == 100 || std::chrono::steady_clock::now() - lastDraw_ >= kRedrawInterval)) {
        redraw();
    }
}

void StationBoard::totals(int passed, int failed, const std::string& remark) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool newRemark = remark != remark_;
    passed_ = passed;
    failed_ = failed;
    remark_ = remark;
    if (style_ == Style::InPlace) {
        redraw();
    } else if (newRemark && !remark.empty()) {
        printAbove(remark);
    }
}

void StationBoard::database(const std::string& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state == database_) return;
    database_ = state;
    if (style_ == Style::InPlace) {
        redraw();
    } else {
        printAbove(state);
    }
}

void StationBoard::note(const std::string& text, std::FILE* stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    printAbove(text, stream);
}

void StationBoard::tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    redraw();
}

std::string StationBoard::summary() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string remark = remark_;
    remark_.clear();
    const std::string figures = header();
    remark_ = remark;
    return figures;
}
