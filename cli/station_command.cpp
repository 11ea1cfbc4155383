// quorvel-cli station: the station engine on the ports given, its board on
// standard error and its records on standard output. The engine's events are
// drawn on this thread, Ctrl-C and hang-ups are watched on another, so that a
// stalled terminal never holds a slot nor a stop.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_result.h"
#include "cli/station_board.h"
#include "cli/station_page.h"
#include "cli/system.h"
#include "flashing/messages.h"
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

constexpr std::uint32_t kBoardTickMs = 1000;
// How often progress is drawn: the board's own redraw interval.
constexpr std::uint32_t kProgressDrawMs = 200;
constexpr std::uint32_t kWatchSliceMs = 50;

std::string unitText(const std::optional<std::int64_t>& unit,
                     const std::optional<std::uint64_t>& serial) {
    if (!unit) return std::string();
    std::string text = "unit " + std::to_string(*unit);
    if (serial) text += "  serial " + std::to_string(*serial);
    return text;
}

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
    if (options.serialAt.empty()) return kExitSuccess;
    SerialLayout layout;
    std::string error;
    if (!parseSerialFormat(options.serialFormat, layout, error)) {
        std::fprintf(stderr, "quorvel-cli: --serial-format: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!parseAddress(options.serialAt, layout.address)) {
        std::fprintf(stderr, "quorvel-cli: --serial-at: not an address: %s\n",
                     options.serialAt.c_str());
        return kExitUsage;
    }
    serialLayout = layout;
    return kExitSuccess;
}

// Draws the engine's events on the board and prints the records.
class StationPrinter {
  public:
    StationPrinter(StationBoard& board, bool json) : board_(board), json_(json) {}

    void show(const StationEvent& event) {
        switch (event.kind) {
            case StationEventKind::Slot:
                board_.slot(event.slot, slotStateText(event.state, event.reason),
                            unitText(event.unit, event.serial) + suffixOf(event.state));
                break;
            case StationEventKind::Progress:
                board_.percent(event.slot, event.percent);
                break;
            case StationEventKind::Record:
                showRecord(event);
                break;
            case StationEventKind::Note:
                board_.note("quorvel-cli: " + event.text);
                break;
            case StationEventKind::Totals:
                board_.totals(event.passed, event.failed, event.text);
                break;
            case StationEventKind::Database:
                board_.database(databaseStateText(event.databaseOnline, event.recordsWaiting));
                break;
            case StationEventKind::Ended:
                break;
        }
    }

  private:
    static std::string suffixOf(SlotState state) {
        if (state == SlotState::Passed || state == SlotState::Failed) return "  remove board";
        if (state == SlotState::Retrying) return "  retrying";
        return std::string();
    }

    void showRecord(const StationEvent& event) {
        const UnitRecord& record = *event.record;
        const std::string line = recordLine(record);
        if (!event.logged) {
            board_.note("not in the log: " + line);
            return;
        }
        // Through the board: standard output may show on the same terminal.
        if (json_) {
            board_.note(line, stdout);
        } else if (record.event == RecordEvent::Result) {
            board_.note(
                "unit " + std::to_string(record.unit.value_or(0)) + " attempt " +
                    std::to_string(record.attempt) +
                    (record.serial ? " serial " + std::to_string(*record.serial) : std::string()) +
                    ": " + resultLine(record.port, event.result),
                stdout);
        }
    }

    StationBoard& board_;
    const bool json_;
};

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

}  // namespace

int runStationCommand(const StationOptions& options, std::atomic<bool>& interrupt,
                      std::atomic<bool>& hangUp) {
    std::unique_ptr<StationServer> page;
    if (const int status = openStationPage(options.http, page)) return status;
    // The image is read once: a file changed on disk meanwhile changes nothing.
    const CodeImage image = loadStationImage(options.imagePath);
    if (image.outcome != ImageOutcome::Loaded) {
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", options.imagePath.c_str(),
                     singleLine(image.message).c_str());
        return kExitImage;
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
