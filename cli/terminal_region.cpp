#include "cli/terminal_region.h"

#include <algorithm>

#include "cli/system.h"

namespace {

// A line that fills the last column leaves some terminals (the Windows console
// among them) at the start of the next row, and the line end after it would
// then add a row the region does not count: rows keep that column free.
constexpr std::size_t kSpareColumns = 1;

}  // namespace

TerminalRegion::TerminalRegion(bool inPlace, std::FILE* out, int columns, std::mutex& ownerLock,
                               Rows rows)
    : inPlace_(inPlace),
      out_(out),
      columns_(columns),
      ownerLock_(ownerLock),
      rows_(std::move(rows)) {
    if (inPlace_) divertErrorStreamTrace(&TerminalRegion::traceAbove, this);
}

TerminalRegion::~TerminalRegion() {
    if (inPlace_) divertErrorStreamTrace(nullptr, nullptr);
}

void TerminalRegion::traceAbove(const std::string& line, void* region) {
    auto* self = static_cast<TerminalRegion*>(region);
    std::lock_guard<std::mutex> lock(self->ownerLock_);
    self->printAbove(line);
}

void TerminalRegion::printAbove(const std::string& text, std::FILE* stream) {
    if (inPlace_ && drawnRows_ > 0) {
        // Up to the first row and clear everything below: the text takes the
        // rows' place and they are drawn anew under it, so no copy stays behind.
        std::fprintf(out_, "\x1b[%zuA\r\x1b[J", drawnRows_);
        std::fflush(out_);
        drawnRows_ = 0;
    }
    std::FILE* to = stream != nullptr ? stream : out_;
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    redraw();
}

void TerminalRegion::redraw() {
    if (!inPlace_) return;
    const int width = std::max(columns_ > 0 ? columns_ : errorStreamColumns(), 2);
    const std::vector<std::string> rows = rows_(static_cast<std::size_t>(width) - kSpareColumns);
    if (drawnRows_ > 0) std::fprintf(out_, "\x1b[%zuA", drawnRows_);
    for (const std::string& row : rows) std::fprintf(out_, "\r\x1b[2K%s\n", row.c_str());
    std::fflush(out_);
    drawnRows_ = rows.size();
    lastDraw_ = std::chrono::steady_clock::now();
}

void TerminalRegion::redrawAfter(std::chrono::milliseconds interval) {
    if (std::chrono::steady_clock::now() - lastDraw_ >= interval) redraw();
}
