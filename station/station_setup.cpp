#include "station/station_setup.h"

#include <cstdio>

#include "platform/sha256.h"
#include "platform/system_text.h"
#include "serial/owned_port.h"
#include "station/image_digest.h"
#include "station/serial_file.h"

namespace {

int imageFactsOf(const StationRequest& request, const CodeImage& image, ImageFacts& facts,
                 std::string& error) {
    Sha256 hash;
    for (const auto& block : image.blocks) {
        hash.update(block->data.get(), static_cast<std::size_t>(block->byteCount));
    }
    facts.path = request.imagePath;
    facts.sha256 = hash.finishHex();
    facts.bytes = image.byteCount();
    if (request.imagePath.empty()) return kStatusOk;  // bytes handed over, no file
    if (!fileSha256(request.imagePath, facts.fileSha256, error)) {
        error = request.imagePath + ": " + error;
        return kStatusBadImage;
    }
    return kStatusOk;
}

// The file is there, reads, can be locked, and its number fits the format.
int openSerials(const StationRequest& request, PreparedStation& prepared, std::string& error) {
    if (!request.serialPool.empty() && request.dbUrl.empty()) {
        error = "a serial-number pool needs the database that holds it";
        return kStatusWrongRequest;
    }
    if (!request.serialLayout || !request.serialPool.empty()) return kStatusOk;
    if (request.logPath.empty()) {
        error = "serial numbers need a log: every number given must be on record";
        return kStatusWrongRequest;
    }
    prepared.serials = std::make_unique<SerialFile>(request.serialFile);
    prepared.settings.highestSerial = highestSerial(*request.serialLayout);
    const SerialTake check = prepared.serials->check(prepared.settings.highestSerial);
    if (check.status != SerialStatus::Taken) {
        error = "the serial-number file " + request.serialFile + " cannot be used: " + check.error;
        return kStatusRecordsLost;
    }
    prepared.settings.serials = prepared.serials.get();
    return kStatusOk;
}

// A slot whose port is absent waits for it; one that another program holds,
// or that the system refuses for another reason (no permission), is refused.
int checkPorts(const std::vector<std::string>& ports, int& portOpenError, std::string& error) {
    for (const std::string& port : ports) {
        const int openError = OwnedPort::named(port).openError();
        if (openError == 0 || portAbsent(openError)) continue;
        portOpenError = openError;
        error = port +
                (portInUse(openError) ? " is in use by another program" : " cannot be opened") +
                " (" + systemErrorText(static_cast<unsigned long>(openError)) + ", error " +
                std::to_string(openError) + ")";
        return kStatusNoDevice;
    }
    return kStatusOk;
}

// Opened for appending, and read for the station's units and slots.
int openLog(const std::string& path, PreparedStation& prepared, std::vector<UnitRecord>& records,
            std::string& error) {
    if (path.empty()) return kStatusOk;
    std::string content;
    if (!readLogText(path, content, error)) {
        error = "the log " + path + " cannot be read: " + error;
        return kStatusRecordsLost;
    }
    StationSettings& settings = prepared.settings;
    records = parseRecordLines(content).records;
    settings.memory = rememberStation(records, settings.station, settings.ports);
    prepared.log = std::make_unique<RecordLog>();
    int osError = 0;
    if (!prepared.log->open(path, osError, error)) {
        error = "the log " + path + " cannot be written: " + error + " (error " +
                std::to_string(osError) + ")";
        return kStatusRecordsLost;
    }
    settings.log = prepared.log.get();
    settings.logName = path;
    prepared.logPath = path;
    return kStatusOk;
}

}  // namespace

int prepareStation(const StationRequest& request, const CodeImage& image, PreparedStation& prepared,
                   std::string& error) {
    StationSettings& settings = prepared.settings;
    settings.ports = request.ports;
    settings.station = request.station.empty() ? hostName() : request.station;
    settings.limit = request.limit;
    settings.retries = request.retries;
    if (request.serialLayout && !serialFits(image.first(), *request.serialLayout)) {
        char address[16];
        std::snprintf(address, sizeof address, "0x%06X",
                      static_cast<unsigned>(request.serialLayout->address));
        error = "the serial number's " + std::to_string(request.serialLayout->width()) +
                " bytes at " + address + " do not lie inside the image's data";
        return kStatusBadImage;
    }
    if (const int status = imageFactsOf(request, image, settings.image, error)) return status;
    if (const int status = openSerials(request, prepared, error)) return status;
    if (const int status = checkPorts(request.ports, prepared.portOpenError, error)) return status;
    std::string logPath = request.logPath;
    if (logPath.empty() && !request.dbUrl.empty() &&
        !defaultStationLog(settings.station, logPath, error)) {
        error = "no default log: " + error;
        return kStatusRecordsLost;
    }
    std::vector<UnitRecord> logRecords;
    if (const int status = openLog(logPath, prepared, logRecords, error)) return status;
    return request.dbUrl.empty() ? kStatusOk : prepareLine(request, logRecords, prepared, error);
}

int stationEndStatus(const StationEnd& end) {
    if (end.aborted) return kStatusInterrupted;
    return end.recordsLost || end.serialsFailed ? kStatusRecordsLost : kStatusOk;
}
