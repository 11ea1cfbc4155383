// Where a report's records come from: a station's log, or the records of a
// line's database, filtered by station and time alike.
#pragma once

#include <string>
#include <vector>

#include "cli/command_line.h"
#include "station/serial_pool.h"
#include "station/unit_record.h"

struct ReportOptions {
    std::string path;      // the station's log, or
    DatabaseOptions db;    // the line's database
    std::string station;   // only this station's records; empty: all
    std::string since;     // only records at or after this UTC time ("2026-12-07" or ISO 8601)
    std::string until;     // and before this one
    std::string htmlPath;  // also written there as a page with charts; empty: none
    bool json = false;
};

struct ReportRecords {
    RecordLines lines;
    std::string source;  // the file, or the database's URL without its password
    bool fromDatabase = false;
    std::vector<VoidSerial> voidSerials;  // the database's: numbers leased and never used
};

// 0, or the exit status after its message on standard error. A log's lines
// that cannot be read are named there too.
int readReportRecords(const ReportOptions& options, ReportRecords& read);
