// A station made ready before any board is touched: the image's facts for the
// records, the serial-number file checked, the ports checked, the log opened
// and read for what the station left on its slots. Every front end starts a
// station through this, so that each refuses what the others refuse.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flashing/status.h"
#include "image/code_image.h"
#include "image/serial_stamp.h"
#include "station/record_log.h"
#include "station/record_shipper.h"
#include "station/serial_source.h"
#include "station/station_engine.h"

struct StationRequest {
    std::vector<std::string> ports;
    std::string imagePath;  // UTF-8; for the records' image_path and file digest
    std::string logPath;    // empty: no log
    std::string station;    // empty: the host name
    int limit = 0;
    int retries = 0;
    std::string serialFile;                    // with serialLayout
    std::optional<SerialLayout> serialLayout;  // none: no serial numbers
    // The line's database: the records go there, and the serial numbers come
    // from `serialPool` in it instead of a file. Without a log, a default one
    // in the program's data folder is the records' outbox.
    std::string dbUrl;  // empty: none
    std::uint32_t dbTimeoutMs = 10000;
    std::string serialPool;
    std::uint64_t serialLease = 1;
};

// What the engine borrows, owned here.
struct PreparedStation {
    StationSettings settings;
    int portOpenError = 0;  // the OS error of a port refused at start-up
    std::unique_ptr<SerialSource> serials;
    std::unique_ptr<RecordLog> log;
    std::unique_ptr<RecordShipper> shipper;
    std::string logPath;  // the log used: the one asked for, or the default one
};

// kStatusOk, or the status of what is refused with its reason in `error`.
int prepareStation(const StationRequest& request, const CodeImage& image, PreparedStation& prepared,
                   std::string& error);

// The line's database made ready (station_line.cpp): the station's name
// claimed, the schema checked, the pool checked, what `logRecords` holds and
// the database lacks sent, and the leases of an earlier run settled.
int prepareLine(const StationRequest& request, const std::vector<UnitRecord>& logRecords,
                PreparedStation& prepared, std::string& error);

// The log of a station that has a database and was given none.
bool defaultStationLog(const std::string& station, std::string& path, std::string& error);

// The status an ended station gives.
int stationEndStatus(const StationEnd& end);
