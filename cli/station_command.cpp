// quorvel-cli station: every port is a slot with a thread of its own that
// waits for a board, flashes it, records and shows the result, and waits for
// the board to be taken away before it arms again.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_result.h"
#include "cli/station_board.h"
#include "cli/system.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"
#include "flashing/presence_probe.h"
#include "image/code_image.h"
#include "image/serial_stamp.h"
#include "platform/platform.h"
#include "platform/sha256.h"
#include "serial/port_listing.h"
#include "serial/serial_port.h"
#include "station/record_log.h"
#include "station/serial_file.h"

namespace {

// How often an empty slot looks for a board, and how often a finished one
// looks whether its board is still there. Removal needs two silent probes at
// least this far apart.
constexpr std::uint32_t kArmedProbeIntervalMs = 100;
constexpr std::uint32_t kRemovalProbeIntervalMs = 1000;
constexpr std::uint32_t kCoordinatorSliceMs = 100;
constexpr std::uint32_t kBoardTickMs = 1000;

std::string unitText(int unit, const std::optional<std::uint64_t>& serial) {
    std::string text = "unit " + std::to_string(unit);
    if (serial) text += "  serial " + std::to_string(*serial);
    return text;
}

bool retryable(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::SwitchRefused:
        case PortOutcome::NoBootLoader:
        case PortOutcome::TransferFailed:
        case PortOutcome::PortLost:
            return true;
        default:
            return false;
    }
}

// The highest unit number a log already holds, so a restarted station goes on counting.
int lastUnitInLog(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return 0;  // a device such as /dev/full
    std::ifstream log(path);
    int last = 0;
    for (std::string line; std::getline(log, line);) {
        const Json record = Json::parse(line, nullptr, false);
        if (record.is_object() && record.contains("unit") && record["unit"].is_number_integer()) {
            last = std::max(last, record["unit"].get<int>());
        }
    }
    return last;
}

bool parseAddress(const std::string& text, std::uint32_t& address) {
    if (text.empty()) return false;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFull) return false;
    address = static_cast<std::uint32_t>(value);
    return true;
}

class Station {
  public:
    Station(const StationOptions& options, const CodeImage& image, std::string imageSha256,
            std::optional<SerialLayout> serialLayout, RecordLog* log, int firstUnit,
            StationBoard& board)
        : options_(options),
          image_(image),
          imageSha256_(std::move(imageSha256)),
          serialLayout_(serialLayout),
          log_(log),
          nextUnit_(firstUnit),
          board_(board),
          station_(hostName()),
          slots_(options.ports.size()) {}

    int run(std::atomic<bool>& interrupt);

  private:
    enum class Arming { Go, NotNow, Never };

    struct Slot {
        std::atomic<bool> stop{false};  // ends the slot's job: abort, or no serial number
        PortFacts facts;                // the port as the last transfer found it
        bool latencyWarned = false;
    };

    struct Unit {
        int number = 0;
        std::optional<std::uint64_t> serial;
    };

    void slotLoop(std::size_t index);
    // False when no board will start on this slot any more.
    bool waitForBoard(std::size_t index, PresenceProbe& probe);
    void waitForRemoval(std::size_t index, PresenceProbe& probe);
    void flashUnit(std::size_t index, PresenceProbe& probe);
    FlashResult attempt(std::size_t index, Unit& unit);
    void report(std::size_t index, const Unit& unit, int attemptNumber, const FlashResult& result);
    Arming arm();
    void unitDone(bool passed);
    void stopArming(const std::string& remark);
    bool armingStopped();
    void showTotals();

    const StationOptions& options_;
    const CodeImage& image_;
    const std::string imageSha256_;
    const std::optional<SerialLayout> serialLayout_;
    RecordLog* log_;

    std::mutex mutex_;  // guards what follows, and keeps output lines whole
    int nextUnit_;
    int passed_ = 0;
    int failed_ = 0;
    int inFlight_ = 0;
    bool armingStopped_ = false;
    bool logFailed_ = false;      // the log cannot be written
    bool serialsFailed_ = false;  // the serial-number file cannot be used
    std::string remark_;

    StationBoard& board_;
    const std::string station_;
    std::vector<Slot> slots_;
};

Station::Arming Station::arm() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (armingStopped_) return Arming::Never;
    if (options_.limit > 0 && passed_ + inFlight_ >= options_.limit) return Arming::NotNow;
    ++inFlight_;
    return Arming::Go;
}

void Station::unitDone(bool passed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --inFlight_;
        (passed ? passed_ : failed_) += 1;
        if (options_.limit > 0 && passed_ >= options_.limit && !armingStopped_) {
            armingStopped_ = true;
            remark_ = "limit of " + std::to_string(options_.limit) + " reached";
        }
    }
    showTotals();
}

void Station::stopArming(const std::string& remark) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (armingStopped_ && !remark_.empty()) return;
        armingStopped_ = true;
        remark_ = remark;
    }
    showTotals();
}

bool Station::armingStopped() {
    std::lock_guard<std::mutex> lock(mutex_);
    return armingStopped_;
}

void Station::showTotals() {
    std::lock_guard<std::mutex> lock(mutex_);
    board_.totals(passed_, failed_, remark_);
}

bool Station::waitForBoard(std::size_t index, PresenceProbe& probe) {
    std::string shown;
    for (;;) {
        if (armingStopped()) return false;
        const Presence presence = probe.probe();
        std::string state = "waiting";
        if (presence == Presence::PortAbsent) state = "waiting for the port";
        if (presence == Presence::PortInUse) state = "port in use by another program";
        if (presence == Presence::Answered) {
            const Arming arming = arm();
            if (arming == Arming::Go) return true;
            if (arming == Arming::Never) return false;
            state = "waiting (limit)";
        }
        if (state != shown) board_.slot(index, state, "");
        shown = state;
        if (!pauseUnlessStopped(kArmedProbeIntervalMs, &slots_[index].stop)) return false;
    }
}

void Station::waitForRemoval(std::size_t index, PresenceProbe& probe) {
    int silentProbes = 0;
    while (!armingStopped() && !slots_[index].stop.load()) {
        switch (probe.probe()) {
            case Presence::PortAbsent:
                return;  // an adapter that sits on the board went with it
            case Presence::Silent:
                if (++silentProbes == 2) return;
                break;
            case Presence::Answered:
            case Presence::PortInUse:
                silentProbes = 0;
                break;
        }
        pauseUnlessStopped(kRemovalProbeIntervalMs, &slots_[index].stop);
    }
}

FlashResult Station::attempt(std::size_t index, Unit& unit) {
    Slot& slot = slots_[index];
    // Each attempt writes its own copy: the serial number goes into it alone.
    std::vector<std::unique_ptr<ImageBlock>> blocks = copyBlocks(image_.first());
    FlashEvents events;
    events.step = [&](FlashStep step) {
        if (step != FlashStep::Transferring) return;
        // The port is open now: a usb: name has just been resolved.
        slot.facts = lookUpPort(options_.ports[index]);
        const std::string warning = latencyWarning(slot.facts.adapter);
        if (!warning.empty() && !slot.latencyWarned) {
            slot.latencyWarned = true;
            board_.note(options_.ports[index] + ": " + warning);
        }
        if (!serialLayout_) return;
        std::string error;
        if (!unit.serial) {
            const SerialTake take =
                SerialFile(options_.serialFile).take(highestSerial(*serialLayout_), &slot.stop);
            error = take.error;
            if (take.status != SerialStatus::Taken) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    serialsFailed_ = true;
                }
                board_.note("quorvel-cli: the serial-number file " + options_.serialFile +
                            " cannot be used: " + error + "; no board starts any more");
                stopArming("stopping: the serial-number file cannot be used");
                slot.stop = true;
                return;
            }
            unit.serial = take.number;
        }
        if (!stampSerial(blocks.front().get(), *serialLayout_, *unit.serial, error)) {
            board_.note("quorvel-cli: serial " + std::to_string(*unit.serial) + ": " + error);
            slot.stop = true;
            return;
        }
        board_.slot(index, "flashing", unitText(unit.number, unit.serial));
    };
    events.progress = [this, index](std::int32_t sent, std::int32_t total) {
        if (total > 0) board_.percent(index, static_cast<int>(std::int64_t{sent} * 100 / total));
    };
    return flashDevice(options_.ports[index], blocks.front().get(), image_.downloadFlags, events,
                       &slot.stop);
}

void Station::report(std::size_t index, const Unit& unit, int attemptNumber,
                     const FlashResult& result) {
    const std::string& port = options_.ports[index];
    Slot& slot = slots_[index];
    if (!slot.facts.known) slot.facts = lookUpPort(port);
    Json record = flashRecordJson(port, slot.facts, result);
    record["time"] = utcTimestamp();
    record["station"] = station_;
    record["unit"] = unit.number;
    record["attempt"] = attemptNumber;
    record["serial"] = unit.serial ? Json(*unit.serial) : Json();
    record["image_sha256"] = imageSha256_;
    record["image_bytes"] = image_.byteCount();
    const std::string reason = failureReason(result);
    record["reason"] = reason.empty() ? Json() : Json(reason);
    const std::string line = record.dump(-1, ' ', false, Json::error_handler_t::replace);

    std::lock_guard<std::mutex> lock(mutex_);
    // On disk before it is shown: a result on the screen is always in the log.
    bool logged = log_ == nullptr;
    if (!logged && !logFailed_) {
        int osError = 0;
        std::string error;
        logged = log_->append(line, osError, error);
        if (!logged) {
            logFailed_ = true;
            armingStopped_ = true;
            remark_ = "stopping: the log cannot be written";
            board_.note("quorvel-cli: the log " + options_.logPath +
                        " cannot be written: " + error + " (error " + std::to_string(osError) +
                        "); no board starts any more");
        }
    }
    if (logged) {
        // Through the board: standard output may show on the same terminal.
        board_.note(options_.json ? line
                                  : "unit " + std::to_string(unit.number) + " attempt " +
                                        std::to_string(attemptNumber) +
                                        (unit.serial ? " serial " + std::to_string(*unit.serial)
                                                     : std::string()) +
                                        ": " + resultLine(port, result),
                    stdout);
    } else {
        board_.note("not in the log: " + line);
    }
}

void Station::flashUnit(std::size_t index, PresenceProbe& probe) {
    Unit unit;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        unit.number = nextUnit_++;
    }
    bool passed = false;
    std::string verdict;
    for (int attemptNumber = 1;; ++attemptNumber) {
        probe.release();  // the job opens the port itself
        board_.slot(index, "flashing", unitText(unit.number, unit.serial));
        slots_[index].facts = PortFacts{};
        const FlashResult result = attempt(index, unit);
        report(index, unit, attemptNumber, result);
        passed = result.outcome == PortOutcome::Done;
        verdict = passed ? "PASS" : "FAIL " + failureReason(result);
        if (passed || !retryable(result.outcome) || attemptNumber > options_.retries ||
            slots_[index].stop.load()) {
            break;
        }
        board_.slot(index, verdict, unitText(unit.number, unit.serial) + "  retrying");
        // Again only while the board stays on its slot.
        if (probe.probe() != Presence::Answered) break;
    }
    board_.slot(index, verdict, unitText(unit.number, unit.serial) + "  remove board");
    unitDone(passed);
}

void Station::slotLoop(std::size_t index) {
    PresenceProbe probe(options_.ports[index], &slots_[index].stop);
    while (waitForBoard(index, probe)) {
        flashUnit(index, probe);
        // Once the station stops, the last verdict stays on the board.
        if (slots_[index].stop.load()) return;
        waitForRemoval(index, probe);
        if (armingStopped()) return;
    }
    board_.slot(index, "stopped", "");
}

int Station::run(std::atomic<bool>& interrupt) {
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < slots_.size(); ++i)
        threads.emplace_back([this, i] { slotLoop(i); });

    int interrupts = 0;
    std::uint32_t lastTick = tickCount();
    for (;;) {
        if (interrupt.exchange(false)) {
            if (++interrupts == 1) {
                stopArming("stopping; Ctrl-C again aborts");
            } else {
                board_.note("quorvel-cli: aborting the boards in flight");
                for (Slot& slot : slots_) slot.stop = true;
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (armingStopped_ && inFlight_ == 0) break;
        }
        if (ticksSince(lastTick) >= kBoardTickMs) {
            board_.tick();
            lastTick = tickCount();
        }
        sleepMilliseconds(kCoordinatorSliceMs);
    }
    for (std::thread& thread : threads) thread.join();
    std::fprintf(stderr, "station: %s\n", board_.summary().c_str());
    if (interrupts >= 2) return kExitInterrupted;
    return logFailed_ || serialsFailed_ ? kExitRecordsLost : kExitSuccess;
}

}  // namespace

int runStationCommand(const StationOptions& options, std::atomic<bool>& interrupt) {
    // The image is read once: a file changed on disk meanwhile changes nothing.
    const CodeImage image = loadCodeImage(widePath(options.imagePath));
    if (image.outcome != ImageOutcome::Loaded) {
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", options.imagePath.c_str(),
                     singleLine(image.message).c_str());
        return kExitImage;
    }
    Sha256 hash;
    for (const auto& block : image.blocks) {
        hash.update(block->data.get(), static_cast<std::size_t>(block->byteCount));
    }
    const std::string imageSha256 = hash.finishHex();

    std::optional<SerialLayout> serialLayout;
    if (!options.serialAt.empty()) {
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
        if (!serialFits(image.first(), layout)) {
            std::fprintf(stderr,
                         "quorvel-cli: the serial number's %d bytes at %s do not lie inside the "
                         "image's data\n",
                         layout.width(), options.serialAt.c_str());
            return kExitImage;
        }
        serialLayout = layout;
    }

    // A slot whose port is absent waits for it; one that another program holds ends the station.
    for (const std::string& port : options.ports) {
        SerialPort* opened = createPortNamed(port);
        const int openError = opened->handle == kInvalidPortHandle ? opened->openError : 0;
        closePort(opened);
        if (portInUse(openError)) {
            std::fprintf(stderr, "quorvel-cli: %s is in use by another program (%s)\n",
                         port.c_str(), portErrorText(openError).c_str());
            return kExitNoDevice;
        }
    }

    std::unique_ptr<RecordLog> log;
    if (!options.logPath.empty()) {
        log = std::make_unique<RecordLog>();
        int osError = 0;
        std::string error;
        if (!log->open(options.logPath, osError, error)) {
            std::fprintf(stderr, "quorvel-cli: the log %s cannot be written: %s (error %d)\n",
                         options.logPath.c_str(), error.c_str(), osError);
            return kExitRecordsLost;
        }
    }
    const int firstUnit = options.logPath.empty() ? 1 : lastUnitInLog(options.logPath) + 1;

    std::fprintf(stderr, "image %s: %" PRId64 " bytes, sha256 %s\n", options.imagePath.c_str(),
                 image.byteCount(), imageSha256.c_str());
    const bool inPlace = !options.plainProgress && errorStreamIsTerminal();
    StationBoard board(options.ports,
                       inPlace ? StationBoard::Style::InPlace : StationBoard::Style::Plain, stderr);
    Station station(options, image, imageSha256, serialLayout, log.get(), firstUnit, board);
    return station.run(interrupt);
}
