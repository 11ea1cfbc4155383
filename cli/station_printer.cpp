#include "cli/station_printer.h"

#include <cstdio>

#include "cli/port_result.h"
#include "station/unit_record.h"

namespace {

std::string unitText(const std::optional<std::int64_t>& unit,
                     const std::optional<std::uint64_t>& serial) {
    if (!unit) return std::string();
    std::string text = "unit " + std::to_string(*unit);
    if (serial) text += "  serial " + std::to_string(*serial);
    return text;
}

std::string suffixOf(SlotState state) {
    if (state == SlotState::Passed || state == SlotState::Failed) return "  remove board";
    if (state == SlotState::Retrying) return "  retrying";
    return std::string();
}

}  // namespace

void StationPrinter::show(const StationEvent& event) {
    switch (event.kind) {
        case StationEventKind::Slot:
            board_.slot(event.slot, slotStateText(event.state, event.reason),
                        unitText(event.unit, event.serial) + suffixOf(event.state));
            break;
        case StationEventKind::Progress:
            board_.percent(event.slot, event.percent);
            break;
        case StationEventKind::Record:
            showRecord(event);
            break;
        case StationEventKind::Note:
            board_.note("quorvel-cli: " + event.text);
            break;
        case StationEventKind::Totals:
            board_.totals(event.passed, event.failed, event.text);
            break;
        case StationEventKind::Database:
            board_.database(databaseStateText(event.databaseOnline, event.recordsWaiting));
            break;
        case StationEventKind::Ended:
            break;
    }
}

void StationPrinter::showRecord(const StationEvent& event) {
    const UnitRecord& record = *event.record;
    const std::string line = recordLine(record);
    if (!event.logged) {
        board_.note("not in the log: " + line);
        return;
    }
    // Through the board: standard output may show on the same terminal.
    if (json_) {
        board_.note(line, stdout);
    } else if (record.event == RecordEvent::Result) {
        board_.note(
            "unit " + std::to_string(record.unit.value_or(0)) + " attempt " +
                std::to_string(record.attempt) +
                (record.serial ? " serial " + std::to_string(*record.serial) : std::string()) +
                ": " + portSummaryLine(record.port, event.result),
            stdout);
    }
}
