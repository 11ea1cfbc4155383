// A station made ready before any board is touched: the image's facts for the
// records, the serial-number file checked, the ports checked, the log opened
// and read for what the station left on its slots. Every front end starts a
// station through this, so that each refuses what the others refuse.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/code_image.h"
#include "image/serial_stamp.h"
#include "station/record_log.h"
#include "station/serial_file.h"
#include "station/station_engine.h"

// The statuses a station ends with, the command line's exit statuses.
constexpr int kStationOk = 0;
constexpr int kStationWrongRequest = 2;  // a serial number without a log, say
constexpr int kStationBadImage = 3;
constexpr int kStationPortUnusable = 4;   // held by another program, or refused by the system
constexpr int kStationRecordsLost = 5;    // the log or the serial numbers cannot be used
constexpr int kStationInterrupted = 130;  // aborted: boards in flight were cut short

struct StationRequest {
    std::vector<std::string> ports;
    std::string imagePath;  // UTF-8; for the records' image_path and file digest
    std::string logPath;    // empty: no log
    std::string station;    // empty: the host name
    int limit = 0;
    int retries = 0;
    std::string serialFile;                    // with serialLayout
    std::optional<SerialLayout> serialLayout;  // none: no serial numbers
};

// What the engine borrows, owned here.
struct PreparedStation {
    StationSettings settings;
    int portOpenError = 0;  // the OS error of a port refused at start-up
    std::unique_ptr<SerialFile> serials;
    std::unique_ptr<RecordLog> log;
};

// kStationOk, or the status of what is refused with its reason in `error`.
int prepareStation(const StationRequest& request, const CodeImage& image, PreparedStation& prepared,
                   std::string& error);

// The status an ended station gives.
int stationEndStatus(const StationEnd& end);
