#include "station/unit_record.h"

#include <cstdio>

namespace {

using Json = nlohmann::ordered_json;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

Json optionalJson(const std::optional<std::uint64_t>& value) {
    return value ? Json(*value) : Json();
}

template <typename Value>
bool readKey(const Json& object, const char* key, Value& value) {
    const auto found = object.find(key);
    if (found == object.end()) return false;
    if constexpr (std::is_same_v<Value, std::string>) {
        if (!found->is_string()) return false;
    } else if constexpr (std::is_same_v<Value, bool>) {
        if (!found->is_boolean()) return false;
    } else if constexpr (std::is_unsigned_v<Value>) {
        if (!found->is_number_unsigned()) return false;
    } else {
        // A signed key refuses an unsigned number it cannot hold, rather than wrapping it.
        if (!found->is_number_integer() ||
            (found->is_number_unsigned() &&
             found->get<std::uint64_t>() > std::uint64_t{INT64_MAX})) {
            return false;
        }
    }
    value = found->get<Value>();
    return true;
}

// True when `text` begins with "DDDD-DD-DDTDD:DD:DD", D a decimal digit: the
// number reader alone would also take signs and spaces ("2026-12- 7", "T-1:").
bool hasUtcShape(const std::string& text) {
    static const char kShape[] = "DDDD-DD-DDTDD:DD:DD";
    if (text.size() < sizeof kShape - 1) return false;
    for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == 'D' ? !digit : text[i] != kShape[i]) return false;
    }
    return true;
}

}  // namespace

std::string UnitRecord::unitKey() const {
    // Unit numbers are unique per station, whichever slot a unit's attempts ran on.
    return station + '\n' + (unit ? std::to_string(*unit) : "line " + std::to_string(line));
}

std::string recordLine(const UnitRecord& record) {
    Json line = {{"event", record.event == RecordEvent::Start ? "start" : "result"},
                 {"time", record.time},
                 {"station", record.station},
                 {"port", record.port},
                 {"unit", record.unit ? Json(*record.unit) : Json()},
                 {"attempt", record.attempt},
                 {"serial", optionalJson(record.serial)}};
    if (record.event == RecordEvent::Result) {
        for (const auto& [key, value] : record.flash.items()) {
            if (key != "port") line[key] = value;
        }
    }
    line["image_path"] = record.imagePath;
    line["image_sha256"] = record.imageSha256;
    line["image_file_sha256"] = record.imageFileSha256;
    line["image_bytes"] = record.imageBytes;
    if (record.event == RecordEvent::Result) {
        line["reason"] = record.reason ? Json(*record.reason) : Json();
    }
    return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool parseRecordLine(const std::string& line, UnitRecord& record) {
    Json object = Json::parse(line, nullptr, false);
    if (!object.is_object()) return false;
    std::string event = "result";
    if (object.contains("event") &&
        (!readKey(object, "event", event) || (event != "start" && event != "result"))) {
        return false;
    }
    record.event = event == "start" ? RecordEvent::Start : RecordEvent::Result;
    if (!readKey(object, "time", record.time) || !readKey(object, "port", record.port) ||
        !parseUtcMillis(record.time, record.timeMs)) {
        return false;
    }
    if (record.event == RecordEvent::Result && !readKey(object, "ok", record.ok)) return false;
    readKey(object, "station", record.station);
    std::int64_t number = 0;
    if (readKey(object, "unit", number)) record.unit = number;
    readKey(object, "attempt", record.attempt);
    std::uint64_t serial = 0;
    if (readKey(object, "serial", serial)) record.serial = serial;
    readKey(object, "image_path", record.imagePath);
    readKey(object, "image_sha256", record.imageSha256);
    readKey(object, "image_file_sha256", record.imageFileSha256);
    readKey(object, "image_bytes", record.imageBytes);
    std::string reason;
    if (readKey(object, "reason", reason)) record.reason = reason;
    if (record.event == RecordEvent::Result) {
        static const char* const kRecordKeys[] = {
            "event",      "time",         "station",           "unit",        "attempt", "serial",
            "image_path", "image_sha256", "image_file_sha256", "image_bytes", "reason"};
        // Moved, not copied: a copy of a deeply nested value would recurse as deep.
        for (auto entry = object.begin(); entry != object.end(); ++entry) {
            bool own = false;
            for (const char* recordKey : kRecordKeys) own = own || entry.key() == recordKey;
            if (!own) record.flash[entry.key()] = std::move(entry.value());
        }
    }
    return true;
}

RecordLines parseRecordLines(const std::string& content) {
    RecordLines read;
    std::size_t lineNumber = 0;
    for (std::size_t start = 0; start < content.size();) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        std::string line = content.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        UnitRecord record;
        record.line = lineNumber;
        if (parseRecordLine(line, record)) {
            read.records.push_back(std::move(record));
        } else {
            read.skipped.push_back(lineNumber);
        }
    }
    return read;
}

bool parseUtcMillis(const std::string& text, std::int64_t& millis) {
    if (!hasUtcShape(text)) return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute,
                    &second, &used) != 6 ||
        used != 19 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        second > 60) {
        return false;
    }
    std::size_t at = 19;
    int fraction = 0;
    if (at < text.size() && text[at] == '.') {
        int digits = 0;
        for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            if (digits < 3) fraction = fraction * 10 + (text[at] - '0');
        }
        if (digits == 0) return false;
        for (; digits < 3; ++digits) fraction *= 10;
    }
    if (at + 1 != text.size() || text[at] != 'Z') return false;
    const std::int64_t days =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
    millis = ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + fraction;
    return true;
}
