// The C API's stations: the station engine of station/ on the caller's ports,
// its events queued until the caller takes them, one at a time, from a
// thread of its own. The start-up checks and statuses are every front end's
// (station/station_setup.h).
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capi/api_support.h"
#include "capi/quorvel.h"
#include "capi/result_text.h"
#include "capi/result_values.h"
#include "capi/station_event_values.h"
#include "flashing/flash_request.h"
#include "platform/platform.h"
#include "serial/port_listing.h"
#include "serial/serial_port.h"
#include "station/device_slots.h"
#include "station/event_queue.h"
#include "station/station_engine.h"
#include "station/station_setup.h"

struct quorvel_station {
    CodeImage image;           // a copy: the caller's may be destroyed while the station runs
    PreparedStation prepared;  // the serial-number file and the log that the engine borrows
    EventQueue events;
    std::unique_ptr<DeviceSlots> hardware;
    // Declared last, so destroyed first: its destructor aborts and joins the
    // slots' threads, which use everything above.
    std::unique_ptr<StationEngine> engine;
    std::optional<int> status;  // the final status, once the Ended event has been taken
};

static_assert(kStatusWrongRequest == QUORVEL_STATUS_ARGUMENTS &&
                  kStatusBadImage == QUORVEL_STATUS_IMAGE &&
                  kStatusNoDevice == QUORVEL_STATUS_NO_DEVICE &&
                  kStatusRecordsLost == QUORVEL_STATUS_RECORDS &&
                  kStatusDatabase == QUORVEL_STATUS_DATABASE &&
                  kStatusInterrupted == QUORVEL_STATUS_CANCELLED,
              "a station's statuses are the library's");

namespace {

// Names go into every record and event; a longer one is a mistake, not a name.
constexpr std::size_t kLongestName = 255;

// The options' size before the database's fields: programs built then still run.
constexpr std::size_t kOptionsBeforeDatabase = offsetof(quorvel_station_options, db_url);

// The command line's bounds for --db-timeout and --serial-lease.
constexpr std::uint32_t kDefaultDbTimeoutMs = 10000;
constexpr std::uint32_t kShortestDbTimeoutMs = 100;
constexpr std::uint32_t kLongestDbTimeoutMs = 3600000;
constexpr std::uint64_t kLargestSerialLease = 100000;

// The options as values, checked.
struct StationPlan {
    StationRequest request;
    FlashPauses pauses;
};

std::string textOf(const char* text) { return text != nullptr ? text : ""; }

// "": the ports are usable names, each given once.
std::string portsProblem(const quorvel_station_options& options, std::vector<std::string>& ports) {
    if (options.ports == nullptr || options.port_count == 0) return "no ports given";
    for (std::size_t i = 0; i < options.port_count; ++i) {
        const std::string port = textOf(options.ports[i]);
        if (port.empty()) return "an empty port name";
        if (port.size() > kLongestName) return "a port name longer than 255 bytes";
        const PortNameDecision decision = decidePortName(port);
        if (decision.kind == PortNameDecision::Kind::Refuse) return decision.text;
        ports.push_back(port);
    }
    return repeatedPortProblem(ports);
}

// "": the database's options agree with each other.
std::string databaseProblem(const quorvel_station_options& options, StationRequest& request) {
    request.dbUrl = textOf(options.db_url);
    request.serialPool = textOf(options.serial_pool);
    if (request.dbUrl.empty() && options.db_timeout_ms != 0) {
        return "db_timeout_ms needs a database (db_url)";
    }
    if (options.db_timeout_ms != 0 && (options.db_timeout_ms < kShortestDbTimeoutMs ||
                                       options.db_timeout_ms > kLongestDbTimeoutMs)) {
        return "db_timeout_ms must be 100 to 3600000";
    }
    request.dbTimeoutMs = options.db_timeout_ms != 0 ? options.db_timeout_ms : kDefaultDbTimeoutMs;
    if (request.serialPool.empty()) {
        return options.serial_lease != 0 ? "serial_lease needs a serial-number pool (serial_pool)"
                                         : "";
    }
    if (request.dbUrl.empty()) return "a serial-number pool needs a database (db_url)";
    if (!request.serialFile.empty()) return "serial_pool and serial_file exclude each other";
    if (options.serial_lease > kLargestSerialLease) return "serial_lease must be 1 to 100000";
    request.serialLease = options.serial_lease != 0 ? options.serial_lease : 1;
    return "";
}

// "": the serial-number options agree with each other and with the log.
std::string serialsProblem(const quorvel_station_options& options, StationRequest& request) {
    const bool numbered = options.serial_format != QUORVEL_SERIAL_NONE;
    const bool pooled = !request.serialPool.empty();
    if (request.serialFile.empty() && !pooled) {
        return numbered ? "serial_format needs a serial-number file (serial_file) or pool "
                          "(serial_pool)"
                        : "";
    }
    if (!numbered) {
        return pooled ? "a serial-number pool needs serial_format and serial_address"
                      : "a serial-number file needs serial_format and serial_address";
    }
    if (!pooled && request.logPath.empty()) {
        return "a serial-number file needs a log (log_path), so that every number given is on "
               "record";
    }
    SerialLayout layout;
    std::string error;
    if (!serialLayoutOf(options.serial_format, options.serial_width, options.serial_address, layout,
                        error)) {
        return error;
    }
    request.serialLayout = layout;
    return "";
}

// "": the options make a station.
std::string optionsProblem(const quorvel_station_options& options, StationPlan& plan) {
    StationRequest& request = plan.request;
    if (const std::string problem = portsProblem(options, request.ports); !problem.empty()) {
        return problem;
    }
    if (options.image == nullptr) return "no image given";
    if (options.pauses != QUORVEL_PAUSES_DEVICE && options.pauses != QUORVEL_PAUSES_SIMULATOR) {
        return "unknown pauses " + std::to_string(options.pauses);
    }
    if (options.retries < 0 || options.limit < 0) return "retries and limit cannot be negative";
    request.retries = options.retries;
    request.limit = options.limit;
    request.logPath = textOf(options.log_path);
    request.serialFile = textOf(options.serial_file);
    request.station = textOf(options.station_name);
    if (request.station.size() > kLongestName) return "a station name longer than 255 bytes";
    plan.pauses = options.pauses == QUORVEL_PAUSES_SIMULATOR ? kSimulatorPauses : FlashPauses{};
    if (const std::string problem = databaseProblem(options, request); !problem.empty()) {
        return problem;
    }
    return serialsProblem(options, request);
}

int refuse(int status, const std::string& error, int portOpenError, quorvel_result* result) {
    switch (status) {
        case kStatusWrongRequest:
            return wrongArgument(result, error);
        case kStatusBadImage:
            return badImage(result, ImageOutcome::Incompatible, error);
        case kStatusNoDevice: {
            quorvel_result refused =
                refusedResult(status,
                              portInUse(portOpenError) ? QUORVEL_OUTCOME_PORT_IN_USE
                                                       : QUORVEL_OUTCOME_PORT_NOT_OPENED,
                              statusCodeText(status, 0), error);
            refused.os_error = portOpenError;
            return deliver(refused, result);
        }
    }
    const int outcome =
        status == kStatusDatabase ? QUORVEL_OUTCOME_DATABASE : QUORVEL_OUTCOME_RECORDS;
    return deliver(refusedResult(status, outcome, statusCodeText(status, 0), error), result);
}

CodeImage copyOf(const CodeImage& source) {
    CodeImage copy;
    copy.outcome = source.outcome;
    copy.format = source.format;
    copy.downloadFlags = source.downloadFlags;
    copy.blocks = copyBlocks(source.first());
    return copy;
}

// The start-up checks every front end makes, then the slots started.
int startStation(const StationPlan& plan, const quorvel_image& image, quorvel_station& station,
                 quorvel_result* result) {
    station.image = copyOf(image.image);
    std::string error;
    // No image path: the file was read and digested when it was loaded, and
    // may have changed since; its facts are put in below.
    if (const int status = prepareStation(plan.request, station.image, station.prepared, error)) {
        return refuse(status, error, station.prepared.portOpenError, result);
    }
    StationSettings settings = station.prepared.settings;
    settings.image.path = image.path;
    settings.image.fileSha256 = image.fileSha256;
    const StationRequest& request = plan.request;
    station.hardware = std::make_unique<DeviceSlots>(request.ports, station.image,
                                                     request.serialLayout, plan.pauses);
    station.engine = std::make_unique<StationEngine>(std::move(settings), *station.hardware,
                                                     station.events, tickCount);
    station.engine->start();
    quorvel_result started = refusedResult(QUORVEL_STATUS_OK, QUORVEL_OUTCOME_DONE, "", "");
    started.ok = 1;
    return deliver(started, result);
}

int createStation(const quorvel_station_options* given, quorvel_station** created,
                  quorvel_result* result) {
    if (created != nullptr) *created = nullptr;
    if (given == nullptr || created == nullptr)
        return wrongArgument(result, "no options or no station");
    if (!resultUsable(result)) return QUORVEL_STATUS_ARGUMENTS;
    if (given->size < sizeof(quorvel_station_options) && given->size != kOptionsBeforeDatabase) {
        return wrongArgument(result, "options.size is smaller than quorvel_station_options");
    }
    // The fields past the caller's size are zero: the defaults.
    quorvel_station_options options;
    std::memset(&options, 0, sizeof options);
    std::memcpy(&options, given, std::min(given->size, sizeof options));
    StationPlan plan;
    if (const std::string problem = optionsProblem(options, plan); !problem.empty()) {
        return wrongArgument(result, problem);
    }
    auto station = std::make_unique<quorvel_station>();
    const int status = startStation(plan, *options.image, *station, result);
    if (status == QUORVEL_STATUS_OK) *created = station.release();
    return status;
}

int nextEvent(quorvel_station& station, quorvel_station_event* event, std::uint32_t timeoutMs) {
    quorvel_station_event filled;
    std::memset(&filled, 0, sizeof filled);
    filled.kind = QUORVEL_EVENT_NONE;
    filled.progress = -1;
    StationEvent taken;
    if (station.events.next(taken, timeoutMs)) {
        if (taken.kind == StationEventKind::Ended && !station.status) {
            station.status = stationEndStatus(station.engine->end());
        }
        fillEvent(taken, station.status.value_or(QUORVEL_STATUS_OK), filled);
    }
    const std::size_t size = event->size;
    std::memcpy(event, &filled, std::min(size, sizeof filled));
    event->size = size;
    return QUORVEL_STATUS_OK;
}

}  // namespace

extern "C" {

int quorvel_station_create(const quorvel_station_options* options, quorvel_station** station,
                           quorvel_result* result) {
    return guarded(result, [&] { return createStation(options, station, result); });
}

int quorvel_station_next_event(quorvel_station* station, quorvel_station_event* event,
                               uint32_t timeout_ms) {
    if (station == nullptr || event == nullptr || event->size < sizeof(quorvel_station_event)) {
        return QUORVEL_STATUS_ARGUMENTS;
    }
    return guarded(nullptr, [&] { return nextEvent(*station, event, timeout_ms); });
}

int quorvel_station_stop(quorvel_station* station) {
    if (station == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(nullptr, [&] {
        station->engine->stop("stopping: the boards in flight finish");
        return QUORVEL_STATUS_OK;
    });
}

int quorvel_station_abort(quorvel_station* station) {
    if (station == nullptr) return QUORVEL_STATUS_ARGUMENTS;
    return guarded(nullptr, [&] {
        // A station that has ended keeps the status it ended with.
        if (!station->engine->finished()) station->engine->abort("aborting the boards in flight");
        return QUORVEL_STATUS_OK;
    });
}

int quorvel_station_destroy(quorvel_station* station) {
    return guarded(nullptr, [&] {
        delete station;
        return QUORVEL_STATUS_OK;
    });
}

}  // extern "C"
