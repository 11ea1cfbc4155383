// One line of a station's record log (JSON Lines). A unit's attempt leaves a
// `start` record when its serial number is taken, before any byte of the image
// is sent, and a `result` record when it ends. The same type writes a line and
// reads one back, so that the station, `report` and the libraries agree.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

enum class RecordEvent { Start, Result };

struct UnitRecord {
    RecordEvent event = RecordEvent::Result;
    std::string time;                  // UTC, "2026-12-07T17:25:26.123Z"
    std::int64_t timeMs = 0;           // `time` as milliseconds since 1970, read back from a line
    std::string station;               // the station's name; "" in logs older than names
    std::string port;                  // the slot: the port name as given
    std::optional<std::int64_t> unit;  // running number per station; none in a bare flash record
    std::int64_t attempt = 1;
    std::optional<std::uint64_t> serial;

    std::string imagePath;        // the image file as given (UTF-8)
    std::string imageSha256;      // of the bytes loaded (all blocks in order)
    std::string imageFileSha256;  // of the file itself, as sha256sum shows it
    std::int64_t imageBytes = 0;

    // Result records only: the port's flash entry (flashRecordJson without
    // "port"): device, ok, code, os_error, message, ..., status, detail.
    nlohmann::ordered_json flash = nlohmann::ordered_json::object();
    bool ok = false;                    // the flash entry's "ok"
    std::optional<std::string> reason;  // a few words on a failure: "no device"

    std::size_t line = 0;  // 1-based line in the log it was read from

    // The key that makes a unit: its station and number (a record without a
    // number stands alone, by its line).
    std::string unitKey() const;
};

// The record as one JSON line, without its line end. Bytes that are not UTF-8
// (a file name) are replaced.
std::string recordLine(const UnitRecord& record);

// Reads a line of the log. False for a line that is not a record: not JSON, or
// without a readable `time` and `port`, or (for a result) `ok`. Keys missing
// from older logs take their defaults: no `event` is a result, no `station` "".
bool parseRecordLine(const std::string& line, UnitRecord& record);

// Every record of a log's text, and the 1-based numbers of the lines that are
// not records (blank lines are neither). A last line without its line end,
// torn by a crash, is read like any other.
struct RecordLines {
    std::vector<UnitRecord> records;
    std::vector<std::size_t> skipped;
};
RecordLines parseRecordLines(const std::string& content);

// "YYYY-MM-DDTHH:MM:SS[.fff]Z" as milliseconds since 1970 (UTC).
bool parseUtcMillis(const std::string& text, std::int64_t& millis);
