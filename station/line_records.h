// The records of a line's stations in its database (quorvel.records): written
// from a station's log, each once whatever the replays, and read back for the
// report as the same UnitRecord a log line gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "database/db_connection.h"
#include "station/unit_record.h"

// Inserts the records that the database lacks, in one statement; a record
// already there (same station, unit, attempt and event) is left as it is.
// Records without a unit number cannot be told apart and are not sent.
DbOutcome insertRecords(DbConnection& db, const std::vector<UnitRecord>& records);

// The records of `records` that the database lacks, in their order.
DbOutcome missingRecords(DbConnection& db, const std::vector<UnitRecord>& records,
                         std::vector<UnitRecord>& missing);

struct RecordFilter {
    std::string station;                // "" for every station
    std::optional<std::int64_t> since;  // ms since 1970: records at or after it
    std::optional<std::int64_t> until;  // and before it
    bool admits(const UnitRecord& record) const;
};

// The records that pass the filter, in the order of their time.
DbOutcome readRecords(DbConnection& db, const RecordFilter& filter, RecordLines& read);
