// quorvel-cli station: the station engine on the ports given, its board on
// standard error and its records on standard output. The engine's events are
// drawn on this thread, Ctrl-C and hang-ups are watched on another, so that a
// stalled terminal never holds a slot nor a stop.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <thread>

#include "cli/command_line.h"
#include "cli/station_board.h"
#include "cli/station_page.h"
#include "cli/station_printer.h"
#include "cli/system.h"
#include "flashing/messages.h"
#include "flashing/status.h"
#include "image/code_image.h"
#include "image/serial_stamp.h"
#include "platform/platform.h"
#include "station/device_slots.h"
#include "station/event_queue.h"
#include "station/station_engine.h"
#include "station/station_fanout.h"
#include "station/station_image.h"
#include "station/station_setup.h"

namespace {

struct StationOptions {
    std::vector<std::string> ports;  // the slots, in the order given
    std::string imagePath;           // UTF-8
    std::string logPath;             // empty: no log file
    std::string station;             // the station's name in its records; empty: the host name
    int limit = 0;                   // boards to pass before the station ends; 0: no limit
    int retries = 0;                 // further attempts for a board whose switch or transfer failed
    std::string serialAt;            // device address of the serial number; empty: none
    std::string serialFile;
    std::string serialFormat = "u32le";
    DatabaseOptions db;
    std::string serialPool;  // in place of serialFile: numbers from the database's pool
    std::uint64_t serialLease = 1;
    bool json = false;
    bool plainProgress = false;
    std::string http;  // "[ADDRESS:]PORT" of the station page; empty: none
};

constexpr std::uint32_t kBoardTickMs = 1000;
// How often progress is drawn: the board's own redraw interval.
constexpr std::uint32_t kProgressDrawMs = 200;
constexpr std::uint32_t kWatchSliceMs = 50;

bool parseAddress(const std::string& text, std::uint32_t& address) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFull) return false;
    address = static_cast<std::uint32_t>(value);
    return true;
}

// The serial number's layout from the options, when one is written; 0, or the
// exit status of a wrong option.
int serialLayoutOf(const StationOptions& options, std::optional<SerialLayout>& serialLayout) {
    if (options.serialAt.empty()) return kStatusOk;
    SerialLayout layout;
    std::string error;
    if (!parseSerialFormat(options.serialFormat, layout, error)) {
        std::fprintf(stderr, "quorvel-cli: --serial-format: %s\n", error.c_str());
        return kStatusWrongRequest;
    }
    if (!parseAddress(options.serialAt, layout.address)) {
        std::fprintf(stderr, "quorvel-cli: --serial-at: not an address: %s\n",
                     options.serialAt.c_str());
        return kStatusWrongRequest;
    }
    serialLayout = layout;
    return kStatusOk;
}

// Ctrl-C once stops arming, twice aborts; a hang-up or a termination request aborts.
void watchInterrupts(StationEngine& engine, std::atomic<bool>& interrupt,
                     std::atomic<bool>& hangUp) {
    int interrupts = 0;
    bool hungUp = false;
    while (!engine.finished()) {
        if (hangUp.load() && !hungUp) {
            hungUp = true;
            engine.abort("hang-up: ending the boards in flight");
        }
        if (interrupt.exchange(false)) {
            if (++interrupts == 1) {
                engine.stop("stopping; Ctrl-C again aborts");
            } else {
                engine.abort("aborting the boards in flight");
            }
        }
        sleepMilliseconds(kWatchSliceMs);
    }
}

int runStation(const StationOptions& options, PreparedStation& prepared, const CodeImage& image,
               const std::optional<SerialLayout>& serialLayout, std::atomic<bool>& interrupt,
               std::atomic<bool>& hangUp, StationServer* page) {
    std::fprintf(stderr, "image %s: %" PRId64 " bytes, sha256 %s\n", options.imagePath.c_str(),
                 image.byteCount(), prepared.settings.image.sha256.c_str());
    const bool inPlace = !options.plainProgress && errorStreamIsTerminal();
    StationBoard board(options.ports,
                       inPlace ? StationBoard::Style::InPlace : StationBoard::Style::Plain, stderr);
    StationPrinter printer(board, options.json);
    EventQueue events(false);
    std::vector<StationObserver*> observers{&events};
    if (page != nullptr) {
        startStationPage(*page, prepared.settings);
        observers.push_back(&page->observer());
    }
    StationFanOut observer(observers);
    DeviceSlots hardware(options.ports, image, serialLayout, FlashPauses{});
    StationEngine engine(prepared.settings, hardware, observer, tickCount);
    engine.start();
    std::thread watcher([&] { watchInterrupts(engine, interrupt, hangUp); });
    std::uint32_t lastTick = tickCount();
    for (;;) {
        StationEvent event;
        if (events.next(event, kProgressDrawMs)) {
            if (event.kind == StationEventKind::Ended) break;
            printer.show(event);
        }
        if (ticksSince(lastTick) >= kBoardTickMs) {
            board.tick();
            lastTick = tickCount();
        }
    }
    watcher.join();
    if (page != nullptr) page->stop();
    std::fprintf(stderr, "station: %s\n", board.summary().c_str());
    return stationEndStatus(engine.end());
}

// Ctrl-C (`interrupt`) once stops arming and lets the boards in flight
// finish; twice aborts them, as a hang-up (`hangUp`) does.
int runStationCommand(const StationOptions& options, std::atomic<bool>& interrupt,
                      std::atomic<bool>& hangUp) {
    std::unique_ptr<StationServer> page;
    if (const int status = openStationPage(options.http, page)) return status;
    // The image is read once: a file changed on disk meanwhile changes nothing.
    const CodeImage image = loadStationImage(options.imagePath);
    if (image.outcome != ImageOutcome::Loaded) {
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", options.imagePath.c_str(),
                     singleLine(image.message).c_str());
        return kStatusBadImage;
    }
    StationRequest request;
    request.ports = options.ports;
    request.imagePath = options.imagePath;
    request.logPath = options.logPath;
    request.station = options.station;
    request.limit = options.limit;
    request.retries = options.retries;
    request.serialFile = options.serialFile;
    request.dbUrl = options.db.url;
    request.dbTimeoutMs = options.db.timeoutMs();
    request.serialPool = options.serialPool;
    request.serialLease = options.serialLease;
    if (const int status = serialLayoutOf(options, request.serialLayout)) return status;
    PreparedStation prepared;
    std::string error;
    if (const int status = prepareStation(request, image, prepared, error)) {
        std::fprintf(stderr, "quorvel-cli: %s\n", error.c_str());
        return status;
    }
    if (!request.dbUrl.empty() && request.logPath.empty()) {
        std::fprintf(stderr, "records: %s\n", prepared.logPath.c_str());
    }
    return runStation(options, prepared, image, request.serialLayout, interrupt, hangUp,
                      page.get());
}

// The options of the serial number and of the line's database.
void addSerialOptions(CLI::App& station, StationOptions& options, CLI::Option* log) {
    CLI::Option* serialAt =
        station.add_option("--serial-at", options.serialAt,
                           "Write each unit's serial number into its image at this address");
    CLI::Option* serialFile = station.add_option("--serial-file", options.serialFile,
                                                 "File holding the next serial number");
    CLI::Option* stationDb = addDatabaseOptions(station, options.db);
    CLI::Option* serialPool = station.add_option(
        "--serial-pool", options.serialPool,
        "Take the serial numbers from this pool of the database (in place of --serial-file)");
    station
        .add_option("--serial-lease", options.serialLease,
                    "Hold K numbers of the pool at a time, for outages of the database "
                    "(default 1)")
        ->check(CLI::Range(1, 100000))
        ->needs(serialPool);
    serialPool->needs(stationDb)->needs(serialAt)->excludes(serialFile);
    serialFile->needs(serialAt);
    serialFile->needs(log);  // every serial number given must be on record
    station
        .add_option("--serial-format", options.serialFormat,
                    "u32le (the default), u32be or ascii:W (W digits)")
        ->needs(serialAt);
}

int checkStationOptions(const CLI::App& station, const StationOptions& options) {
    if (station.count("--serial-at") > 0 && station.count("--serial-file") == 0 &&
        station.count("--serial-pool") == 0) {
        return usageError("--serial-at needs --serial-file or --serial-pool", options.json);
    }
    return checkPortList(options.ports, options.json);
}

}  // namespace

Subcommand addStationCommand(CLI::App& app) {
    auto options = std::make_shared<StationOptions>();
    CLI::App* station = app.add_subcommand(
        "station", "Flash boards as they arrive on every port given, and record every unit");
    addPortListOption(*station, options->ports, "; one slot each; repeat it or give a comma list");
    CLI::Option* log = station->add_option(
        "--log", options->logPath,
        "Append every unit's start and result to FILE as JSON lines, synced to disk");
    station->add_option("--station", options->station,
                        "The station's name in its records (default: the host name)");
    station->add_option("--limit", options->limit, "End after N boards have passed")
        ->check(CLI::NonNegativeNumber);
    station
        ->add_option("--retries", options->retries,
                     "Flash a board whose switch or transfer failed up to N more times")
        ->check(CLI::NonNegativeNumber);
    addSerialOptions(*station, *options, log);
    station->add_flag("--json", options->json,
                      "Every record on standard output as a JSON line, as in the log");
    station->add_flag("--no-progress", options->plainProgress,
                      "A line per state change instead of a board redrawn in place");
    station->add_option("--http", options->http,
                        "Serve the station's live page at [ADDRESS:]PORT (address 127.0.0.1 "
                        "unless given; 0.0.0.0 serves every network, read-only)");
    station->add_option("IMAGE", options->imagePath, "Image file: raw binary or Intel HEX")
        ->required();
    Subcommand command{station, [station, options](CommandSignals& signals) {
                           if (const int status = checkStationOptions(*station, *options)) {
                               return status;
                           }
                           return runStationCommand(*options, signals.interrupt, signals.hangUp);
                       }};
    command.watchesHangUp = true;
    return command;
}
