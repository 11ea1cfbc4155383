#include "cli/station_board.h"

#include <algorithm>

#include "cli/progress_board.h"
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
    : slots_(ports.size()),
      region_(style == Style::InPlace, out, columns, mutex_, [this](std::size_t width) {
          std::vector<std::string> rows{shortened(header(), width)};
          for (const Slot& slot : slots_) rows.push_back(shortened(render(slot), width));
          return rows;
      }) {
    for (std::size_t i = 0; i < ports.size(); ++i) slots_[i].port = ports[i];
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

void StationBoard::slot(std::size_t index, const std::string& state, const std::string& unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    slot.state = state;
    slot.unit = unit;
    slot.percent = -1;
    if (region_.inPlace()) {
        region_.redraw();
    } else {
        region_.printAbove(render(slot));
    }
}

void StationBoard::percent(std::size_t index, int percent) {
    std::lock_guard<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    if (slot.percent == percent) return;
    slot.percent = percent;
    if (percent == 100) {
        region_.redraw();
    } else {
        region_.redrawAfter(kRedrawInterval);
    }
}

void StationBoard::totals(int passed, int failed, const std::string& remark) {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool newRemark = remark != remark_;
    passed_ = passed;
    failed_ = failed;
    remark_ = remark;
    if (region_.inPlace()) {
        region_.redraw();
    } else if (newRemark && !remark.empty()) {
        region_.printAbove(remark);
    }
}

void StationBoard::database(const std::string& state) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (state == database_) return;
    database_ = state;
    if (region_.inPlace()) {
        region_.redraw();
    } else {
        region_.printAbove(state);
    }
}

void StationBoard::note(const std::string& text, std::FILE* stream) {
    std::lock_guard<std::mutex> lock(mutex_);
    region_.printAbove(text, stream);
}

void StationBoard::tick() {
    std::lock_guard<std::mutex> lock(mutex_);
    region_.redraw();
}

std::string StationBoard::summary() {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string remark = remark_;
    remark_.clear();
    const std::string figures = header();
    remark_ = remark;
    return figures;
}
