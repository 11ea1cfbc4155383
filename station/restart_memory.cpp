#include "station/restart_memory.h"

#include <algorithm>
#include <map>

StationMemory rememberStation(const std::vector<UnitRecord>& records, const std::string& station,
                              const std::vector<std::string>& ports) {
    StationMemory memory;
    std::map<std::string, const UnitRecord*> lastEvents;
    for (const UnitRecord& record : records) {
        if (record.station != station) continue;
        if (record.unit) memory.lastUnit = std::max(memory.lastUnit, *record.unit);
        lastEvents[record.port] = &record;
    }
    for (const std::string& port : ports) {
        SlotMemory slot;
        const auto found = lastEvents.find(port);
        if (found != lastEvents.end() && found->second->unit) {
            const UnitRecord& last = *found->second;
            if (last.event == RecordEvent::Start) {
                slot.board = SlotMemory::Board::HalfWritten;
            } else if (last.ok) {
                slot.board = SlotMemory::Board::Passed;
            }
            slot.unit = *last.unit;
            slot.attempt = last.attempt;
            slot.serial = last.serial;
        }
        memory.slots.push_back(slot);
    }
    return memory;
}
