// The station log's reader on arbitrary text. Every non-blank line is either a
// record or skipped, in line order; a record written again by recordLine is
// one line that reads back with the same fields.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "station/unit_record.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

bool sameFields(const UnitRecord& a, const UnitRecord& b) {
    const bool same = a.event == b.event && a.time == b.time && a.timeMs == b.timeMs &&
                      a.station == b.station && a.port == b.port && a.unit == b.unit &&
                      a.attempt == b.attempt && a.serial == b.serial &&
                      a.imagePath == b.imagePath && a.imageSha256 == b.imageSha256 &&
                      a.imageFileSha256 == b.imageFileSha256 && a.imageBytes == b.imageBytes &&
                      a.unitKey() == b.unitKey();
    // Only a result carries its verdict and reason.
    return same && (a.event == RecordEvent::Start || (a.ok == b.ok && a.reason == b.reason));
}

// Marks `line` as read, once, in order: within the text's lines and after `previous`.
void takeLine(std::vector<bool>& taken, std::size_t line, std::size_t& previous) {
    FUZZ_CHECK(line > previous && line < taken.size() && !taken[line]);
    taken[line] = true;
    previous = line;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const RecordLines read = parseRecordLines(text);
    const bool torn = !text.empty() && text.back() != '\n';
    const std::size_t lineCount =
        static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + (torn ? 1 : 0);
    std::vector<bool> taken(lineCount + 1, false);
    std::size_t previous = 0;
    for (const UnitRecord& record : read.records) takeLine(taken, record.line, previous);
    previous = 0;
    for (const std::size_t line : read.skipped) takeLine(taken, line, previous);

    for (const UnitRecord& record : read.records) {
        const std::string line = recordLine(record);
        FUZZ_CHECK(line.find('\n') == std::string::npos);
        const RecordLines again = parseRecordLines(line + "\n");
        FUZZ_CHECK(again.records.size() == 1 && again.skipped.empty());
        UnitRecord copy = again.records.front();
        copy.line = record.line;
        FUZZ_CHECK(sameFields(record, copy));
    }
    return 0;
}
