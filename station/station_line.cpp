// A station on a line: its database made ready before any board is touched.
#include "platform/data_folder.h"
#include "station/line_schema.h"
#include "station/serial_pool.h"
#include "station/station_setup.h"

namespace {

std::string databaseProblem(const StationRequest& request, const DbOutcome& outcome) {
    if (outcome.failure == DbFailure::NoLibrary) return outcome.message;
    return "the database " + maskedDbUrl(request.dbUrl) + " cannot be used: " + outcome.message;
}

// Each of the station's connections, named after it in the server's activity view.
DbSettings databaseOf(const StationRequest& request, const std::string& station) {
    DbSettings db;
    db.url = request.dbUrl;
    db.timeoutMs = request.dbTimeoutMs;
    db.applicationName = "quorvel " + station;
    return db;
}

int openPool(const StationRequest& request, PreparedStation& prepared, std::string& error) {
    if (request.serialPool.empty()) return kStatusOk;
    StationSettings& settings = prepared.settings;
    auto pool =
        std::make_unique<SerialPool>(databaseOf(request, settings.station), request.serialPool,
                                     settings.station, request.serialLease);
    settings.highestSerial = highestSerial(*request.serialLayout);
    const SerialTake check = pool->check(settings.highestSerial);
    if (check.status != SerialStatus::Taken) {
        error = pool->description() + " cannot be used: " + check.error;
        return check.status == SerialStatus::Exhausted ? kStatusRecordsLost : kStatusDatabase;
    }
    prepared.serials = std::move(pool);
    settings.serials = prepared.serials.get();
    return kStatusOk;
}

}  // namespace

bool defaultStationLog(const std::string& station, std::string& path, std::string& error) {
    std::string folder;
    if (!programDataFolder(folder, error)) return false;
    // A name is not always a file name: anything but letters, digits, '-', '_' and '.' becomes '_'.
    std::string file;
    for (const char c : station) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        file += plain ? c : '_';
    }
    if (file.empty() || file.find_first_not_of('.') == std::string::npos) file = "station";
    path = folder + "/" + file + ".jsonl";
    return true;
}

int prepareLine(const StationRequest& request, const std::vector<UnitRecord>& logRecords,
                PreparedStation& prepared, std::string& error) {
    const DbOutcome url = checkDbUrl(request.dbUrl);
    if (!url.ok()) {
        error = url.failure == DbFailure::BadUrl ? "--db: " + url.message : url.message;
        return url.failure == DbFailure::BadUrl ? kStatusWrongRequest : kStatusDatabase;
    }
    StationSettings& settings = prepared.settings;
    prepared.shipper =
        std::make_unique<RecordShipper>(databaseOf(request, settings.station), settings.station);
    DbOutcome outcome;
    bool nameTaken = false;
    if (!prepared.shipper->connect(outcome, nameTaken)) {
        error = nameTaken ? "another station named " + settings.station +
                                " is running on the database: give each station its own "
                                "--station name"
                          : databaseProblem(request, outcome);
        return kStatusDatabase;
    }
    const SchemaCheck schema = checkLineSchema(prepared.shipper->connection());
    if (schema.state != SchemaState::Ready) {
        error = schema.state == SchemaState::Unusable ? databaseProblem(request, schema.outcome)
                                                      : schema.message();
        return kStatusDatabase;
    }
    // The log's records first: a number is void only when no start record has it.
    outcome = prepared.shipper->catchUp(logRecords);
    if (outcome.ok())
        outcome = settleStationLeases(prepared.shipper->connection(), settings.station);
    if (!outcome.ok()) {
        error = databaseProblem(request, outcome);
        return kStatusDatabase;
    }
    settings.outbox = prepared.shipper.get();
    return openPool(request, prepared, error);
}
