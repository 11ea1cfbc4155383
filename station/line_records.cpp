#include "station/line_records.h"

#include <set>
#include <tuple>

namespace {

using Json = nlohmann::ordered_json;
using RecordKey = std::tuple<std::string, std::int64_t, std::int64_t, std::string>;

const char* eventName(RecordEvent event) {
    return event == RecordEvent::Start ? "start" : "result";
}

// The columns in the order of a record line's keys, so that a row reads back
// as the line it came from.
constexpr const char* kColumns =
    "event, time, station, port, unit, attempt, serial, device, usb_id, serial_number, ok, code, "
    "os_error, message, device_before, device_after, bytes, seconds, bytes_per_second, status, "
    "detail, image_path, image_sha256, image_file_sha256, image_bytes, reason";

std::string isoTime(std::int64_t millis) {
    return "to_timestamp(" + std::to_string(millis) + " / 1000.0)";
}

}  // namespace

bool RecordFilter::admits(const UnitRecord& record) const {
    return (station.empty() || record.station == station) && (!since || record.timeMs >= *since) &&
           (!until || record.timeMs < *until);
}

DbOutcome insertRecords(DbConnection& db, const std::vector<UnitRecord>& records) {
    // One JSON array of the lines; the database maps each key to its column.
    std::string rows = "[";
    for (const UnitRecord& record : records) {
        if (!record.unit) continue;
        if (rows.size() > 1) rows += ',';
        rows += recordLine(record);
    }
    rows += ']';
    if (rows == "[]") return DbOutcome();
    return db.run(std::string("INSERT INTO quorvel.records (") + kColumns + ") SELECT " + kColumns +
                      " FROM json_populate_recordset(NULL::quorvel.records, $1::json) "
                      "ON CONFLICT DO NOTHING",
                  {rows});
}

DbOutcome missingRecords(DbConnection& db, const std::vector<UnitRecord>& records,
                         std::vector<UnitRecord>& missing) {
    missing.clear();
    std::set<std::string> stations;
    for (const UnitRecord& record : records) stations.insert(record.station);
    std::set<RecordKey> present;
    for (const std::string& station : stations) {
        DbRows rows;
        const DbOutcome outcome =
            db.run("SELECT unit, attempt, event FROM quorvel.records WHERE station = $1", {station},
                   &rows);
        if (!outcome.ok()) return outcome;
        for (const auto& row : rows.rows) {
            present.emplace(station, std::stoll(row[0].value_or("0")),
                            std::stoll(row[1].value_or("0")), row[2].value_or(""));
        }
    }
    for (const UnitRecord& record : records) {
        if (!record.unit) continue;
        if (present.count(
                {record.station, *record.unit, record.attempt, eventName(record.event)}) == 0) {
            missing.push_back(record);
        }
    }
    return DbOutcome();
}

DbOutcome readRecords(DbConnection& db, const RecordFilter& filter, RecordLines& read) {
    std::string where = "WHERE ($1 = '' OR station = $1)";
    if (filter.since) where += " AND time >= " + isoTime(*filter.since);
    if (filter.until) where += " AND time < " + isoTime(*filter.until);
    std::string columns = kColumns;
    columns.replace(
        columns.find("time"), 4,
        "to_char(time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"') AS time");
    DbRows rows;
    const DbOutcome outcome =
        db.run("SELECT row_to_json(r) FROM (SELECT " + columns + " FROM quorvel.records " + where +
                   " ORDER BY time, station, unit, attempt, event DESC) r",
               {filter.station}, &rows);
    read = RecordLines();
    for (const auto& row : rows.rows) {
        UnitRecord record;
        record.line = read.records.size() + 1;
        if (parseRecordLine(row[0].value_or(""), record)) {
            read.records.push_back(std::move(record));
        } else {
            read.skipped.push_back(record.line);
        }
    }
    return outcome;
}
