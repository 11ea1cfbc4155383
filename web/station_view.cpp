#include "web/station_view.h"

#include <algorithm>
#include <chrono>

#include "station/throughput.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kNotesKept = 8;

template <typename Number>
Json optionalJson(const std::optional<Number>& value) {
    return value ? Json(*value) : Json();
}

bool onSlot(SlotState state) { return state == SlotState::Passed || state == SlotState::Failed; }

}  // namespace

std::int64_t wallClockNow() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* slotStateKey(SlotState state) {
    switch (state) {
        case SlotState::Waiting:
            return "waiting";
        case SlotState::WaitingForPort:
            return "waiting_for_port";
        case SlotState::PortInUse:
            return "port_in_use";
        case SlotState::WaitingForLimit:
            return "waiting_for_limit";
        case SlotState::Flashing:
            return "flashing";
        case SlotState::Retrying:
            return "retrying";
        case SlotState::Passed:
            return "passed";
        case SlotState::Failed:
            return "failed";
        case SlotState::Stopped:
            return "stopped";
    }
    return "stopped";
}

StationView::StationView(StationPageFacts facts, WallClock clock,
                         std::function<void(bool significant)> changed)
    : facts_(std::move(facts)),
      clock_(std::move(clock)),
      changed_(std::move(changed)),
      startedMs_(clock_()) {
    for (const std::string& port : facts_.ports)
        slots_.push_back(Slot{port, {}, {}, -1, {}, {}, {}});
}

void StationView::onEvent(const StationEvent& event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        apply(event);
    }
    if (changed_) changed_(event.kind != StationEventKind::Progress);
}

void StationView::apply(const StationEvent& event) {
    switch (event.kind) {
        case StationEventKind::Slot:
            if (event.slot < slots_.size()) applySlot(slots_[event.slot], event);
            break;
        case StationEventKind::Progress:
            if (event.slot < slots_.size()) slots_[event.slot].percent = event.percent;
            break;
        case StationEventKind::Record:
            if (event.record && event.record->event == RecordEvent::Result && !event.record->ok) {
                ++reasons_[event.record->reason.value_or("(no reason given)")];
            }
            if (!event.logged && event.record) {
                notes_.push_back("not in the log: " + recordLine(*event.record));
            }
            break;
        case StationEventKind::Note:
            notes_.push_back(event.text);
            break;
        case StationEventKind::Totals:
            applyTotals(event);
            break;
        case StationEventKind::Database:
            databaseOnline_ = event.databaseOnline;
            recordsWaiting_ = event.recordsWaiting;
            break;
        case StationEventKind::Ended:
            ended_ = true;
            endedMs_ = clock_();
            break;
    }
    if (notes_.size() > kNotesKept) notes_.erase(notes_.begin(), notes_.end() - kNotesKept);
}

void StationView::applySlot(Slot& slot, const StationEvent& event) {
    const bool newBoard = event.state == SlotState::Flashing && slot.state != SlotState::Flashing &&
                          slot.state != SlotState::Retrying;
    if (newBoard) slot.percent = 0;
    slot.state = event.state;
    slot.reason = event.reason;
    slot.unit = event.unit;
    slot.serial = event.serial;
    if (onSlot(event.state)) {
        slot.lastResult =
            LastResult{event.state == SlotState::Passed, event.reason, event.unit, event.serial};
        if (event.state == SlotState::Passed) slot.percent = 100;
    }
}

void StationView::applyTotals(const StationEvent& event) {
    const int before = passed_ + failed_;
    const int now = event.passed + event.failed;
    const std::int64_t at = clock_();
    for (int board = before; board < now; ++board) finishedMs_.push_back(at);
    passed_ = event.passed;
    failed_ = event.failed;
    remark_ = event.text;
}

Json StationView::slotJson(const Slot& slot) {
    Json last;
    if (slot.lastResult) {
        last = {{"passed", slot.lastResult->passed},
                {"text", slot.lastResult->passed ? "PASS" : "FAIL"},
                {"reason", slot.lastResult->reason},
                {"unit", optionalJson(slot.lastResult->unit)},
                {"serial", optionalJson(slot.lastResult->serial)}};
    }
    return {{"port", slot.port},
            {"state", slotStateKey(slot.state)},
            {"state_text", slotStateText(slot.state, slot.reason)},
            {"percent", slot.percent},
            {"unit", optionalJson(slot.unit)},
            {"serial", optionalJson(slot.serial)},
            {"remove_board", onSlot(slot.state)},
            {"last_result", last}};
}

Json StationView::state() const {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::int64_t nowMs = endedMs_.value_or(clock_());
    const std::int64_t runMs = std::max<std::int64_t>(0, nowMs - startedMs_);
    const auto boards = static_cast<std::size_t>(passed_ + failed_);
    Json slots = Json::array();
    for (const Slot& slot : slots_) slots.push_back(slotJson(slot));
    std::vector<std::pair<std::string, int>> reasons(reasons_.begin(), reasons_.end());
    std::stable_sort(reasons.begin(), reasons.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    Json reasonList = Json::array();
    for (const auto& [reason, count] : reasons) {
        reasonList.push_back({{"reason", reason}, {"count", count}});
    }
    Json database;
    if (databaseOnline_) {
        database = {{"online", *databaseOnline_},
                    {"records_waiting", recordsWaiting_},
                    {"text", databaseStateText(*databaseOnline_, recordsWaiting_)}};
    }
    return {{"station", facts_.station},
            {"image",
             {{"path", facts_.imagePath},
              {"sha256", facts_.imageSha256},
              {"bytes", facts_.imageBytes}}},
            {"started_ms", startedMs_},
            {"now_ms", nowMs},
            {"run_seconds", static_cast<double>(runMs) / 1000},
            {"ended", ended_},
            {"remark", remark_},
            {"passed", passed_},
            {"failed", failed_},
            {"yield_percent", optionalJson(yieldPercentOf(static_cast<std::size_t>(passed_),
                                                          static_cast<std::size_t>(failed_)))},
            {"boards_per_hour", optionalJson(boardsPerHourOver(boards, runMs))},
            {"boards_per_hour_by_step",
             {{"step_seconds", kThroughputStepMs / 1000},
              {"values", boardsPerHourBySteps(finishedMs_, startedMs_, nowMs)}}},
            {"failure_reasons", reasonList},
            {"database", database},
            {"notes", notes_},
            {"slots", slots}};
}
