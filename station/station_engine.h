// The production station's slot engine: every port is a slot that waits for a
// board, flashes it as a new unit (with its serial number and its records),
// and waits for the board to be taken away before it arms again. The ports
// and boards (SlotHardware) and the clock are parameters, so that the policy
// runs in tests against fakes, one step at a time.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "flashing/flash_request.h"
#include "flashing/presence_probe.h"
#include "station/record_log.h"
#include "station/record_outbox.h"
#include "station/restart_memory.h"
#include "station/serial_source.h"
#include "station/station_events.h"

struct SlotFlashHooks {
    // Called once, when the board is in its boot loader and before any byte of the image.
    std::function<TransferStart()> beforeTransfer;
    std::function<void(int percent)> progress;
};

struct SlotFlash {
    FlashResult result;
    nlohmann::ordered_json flash;  // the port's flash entry (flashRecordJson)
    std::string note;              // a warning for the operator (a slow adapter), or ""
};

// The ports and boards of the slots.
class SlotHardware {
  public:
    virtual ~SlotHardware() = default;
    // Whether a board answers on the slot's port now, waiting `replyLimitMs` for each reply.
    virtual Presence probe(std::size_t slot, std::uint32_t replyLimitMs) = 0;
    // Closes what probe() keeps open, for the job that opens the port itself.
    virtual void release(std::size_t slot) = 0;
    // The whole job on the slot's board; `stop` ends it within 200 ms.
    virtual SlotFlash flash(std::size_t slot, const SlotFlashHooks& hooks,
                            std::atomic<bool>* stop) = 0;
};

struct ImageFacts {
    std::string path;
    std::string sha256;      // of the bytes loaded
    std::string fileSha256;  // of the file
    std::int64_t bytes = 0;
};

struct StationSettings {
    std::vector<std::string> ports;   // the slots
    std::string station;              // the station's name in every record
    int limit = 0;                    // boards to pass before arming stops; 0: none
    int retries = 0;                  // further attempts after a failed switch or transfer
    SerialSource* serials = nullptr;  // none: no serial numbers
    std::uint64_t highestSerial = UINT64_MAX;
    RecordLog* log = nullptr;        // none: no records kept
    RecordOutbox* outbox = nullptr;  // none: the records stay in the log
    std::string logName;             // for messages
    ImageFacts image;
    StationMemory memory;  // what the log said at start; empty: a fresh station
    // An occupied slot probes this often, and counts its board as removed once
    // it has been silent (or its port gone) this long in a row.
    std::uint32_t probeIntervalMs = 100;
    std::uint32_t removalSilenceMs = 300;
    std::uint32_t armedReplyLimitMs = kProbeReplyLimitMs;
    std::uint32_t removalReplyLimitMs = kRemovalProbeReplyLimitMs;
};

// How the station ended.
struct StationEnd {
    bool aborted = false;        // abort(): boards in flight were cut short
    bool recordsLost = false;    // the log could not be written
    bool serialsFailed = false;  // the serial-number source failed, or ran out
    int passed = 0;
    int failed = 0;
};

using StationClock = std::function<std::uint32_t()>;

class StationEngine {
  public:
    StationEngine(StationSettings settings, SlotHardware& hardware, StationObserver& observer,
                  StationClock clock);
    // Aborts what still runs and waits for it.
    ~StationEngine();
    StationEngine(const StationEngine&) = delete;
    StationEngine& operator=(const StationEngine&) = delete;

    // Runs every slot on a thread of its own; the Ended event follows the last.
    void start();
    // True once every slot has ended.
    bool finished();
    // Arming stops; the boards in flight finish (one Ctrl-C).
    void stop(const std::string& remark);
    // Arming stops and the boards in flight end now, each with its record
    // (two Ctrl-C, a hang-up).
    void abort(const std::string& note);
    StationEnd end();

    // One step of a slot on the caller's thread: a probe, or a whole unit. The
    // clock time of its next step, or none once the slot has ended. start()
    // runs this; tests call it directly with a fake clock and hardware.
    std::optional<std::uint32_t> step(std::size_t index);

  private:
    struct Slot;
    struct Unit;

    std::optional<std::uint32_t> stepArmed(std::size_t index);
    std::optional<std::uint32_t> stepAwaitingRemoval(std::size_t index);
    void flashUnit(std::size_t index);
    SlotFlash attempt(std::size_t index, Unit& unit, int attemptNumber);
    TransferStart beforeTransfer(std::size_t index, Unit& unit, int attemptNumber);
    bool takeSerial(std::size_t index, Unit& unit);
    UnitRecord newRecord(std::size_t index, const Unit& unit, int attemptNumber,
                         RecordEvent event) const;
    bool writeRecord(std::size_t index, UnitRecord record, const FlashResult* result = nullptr);
    enum class Arming { Go, NotNow, Never };
    Arming arm();
    void unitDone(bool passed);
    void stopArming(const std::string& remark);
    bool armingStopped();
    void showSlot(std::size_t index, SlotState state, const std::string& reason = "");
    void showTotals();
    void note(const std::string& text);
    std::optional<std::uint32_t> endSlot(std::size_t index, bool showStopped);
    void runSlot(std::size_t index);
    void waitUntil(std::uint32_t due);

    const StationSettings settings_;
    SlotHardware& hardware_;
    StationObserver& observer_;
    const StationClock clock_;
    std::vector<std::unique_ptr<Slot>> slots_;

    std::mutex mutex_;  // guards what follows; never held during I/O
    std::condition_variable wake_;
    std::int64_t nextUnit_;
    int passed_ = 0;
    int failed_ = 0;
    int inFlight_ = 0;
    bool armingStopped_ = false;
    std::string remark_;
    StationEnd end_;
    int slotsRunning_ = 0;

    std::vector<std::thread> threads_;
};

// A unit's attempt is flashed again after these outcomes (the board stays on its slot).
bool retryableOutcome(PortOutcome outcome);
