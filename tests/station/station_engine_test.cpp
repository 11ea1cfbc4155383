// The station engine's policy against fake boards and a fake clock, one step
// at a time on the test's thread: removal and glitches, retries and the
// limit, a restart after a pass and after a cut transfer, serial numbers that
// run out, and stop against abort.
#include "station/station_engine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <map>

#include "station/event_queue.h"
#include "station/record_log.h"

namespace {

constexpr std::uint32_t kAnsweredProbeMs = 5;
constexpr std::uint32_t kFlashMs = 2000;

// When a slot's board is there, by the fake clock: present from `from` on
// until `until`, and for each glitch silent (or its port gone) meanwhile.
struct Board {
    std::uint32_t from = 0;
    std::uint32_t until = UINT32_MAX;
};

struct Gap {
    std::uint32_t from;
    std::uint32_t until;
    Presence presence;
};

class FakeSlots final : public SlotHardware {
  public:
    explicit FakeSlots(std::size_t slots) : boards(slots), gaps(slots), outcomes(slots) {}

    Presence probe(std::size_t slot, std::uint32_t replyLimitMs) override {
        const Presence presence = presenceAt(slot, now);
        // A silent board lets both queries wait in full; a gone port fails at once.
        if (presence == Presence::Silent) now += 2 * replyLimitMs;
        if (presence == Presence::Answered) now += kAnsweredProbeMs;
        return presence;
    }
    void release(std::size_t) override {}
    SlotFlash flash(std::size_t slot, const SlotFlashHooks& hooks,
                    std::atomic<bool>* stop) override {
        SlotFlash flashed;
        flashed.flash = {{"ok", false}};
        const TransferStart start = hooks.beforeTransfer();
        if (atTransfer) atTransfer(slot);
        ++flashes[slot];
        if (!start.go || stop->load()) {
            flashed.result.outcome = PortOutcome::Stopped;
            return flashed;
        }
        serials[slot].push_back(start.serial.value_or(0));
        hooks.progress(50);
        now += kFlashMs;
        if (!outcomes[slot].empty()) {
            flashed.result.outcome = outcomes[slot].front();
            outcomes[slot].pop_front();
        } else {
            flashed.result.outcome = PortOutcome::Done;
        }
        flashed.flash["ok"] = flashed.result.outcome == PortOutcome::Done;
        return flashed;
    }

    Presence presenceAt(std::size_t slot, std::uint32_t time) const {
        for (const Gap& gap : gaps[slot]) {
            if (time >= gap.from && time < gap.until) return gap.presence;
        }
        for (const Board& board : boards[slot]) {
            if (time >= board.from && time < board.until) return Presence::Answered;
        }
        return Presence::Silent;
    }

    std::uint32_t now = 0;
    std::vector<std::vector<Board>> boards;
    std::vector<std::vector<Gap>> gaps;
    std::vector<std::deque<PortOutcome>> outcomes;
    std::map<std::size_t, int> flashes;
    std::map<std::size_t, std::vector<std::uint64_t>> serials;
    std::function<void(std::size_t)> atTransfer;  // after beforeTransfer, before the image
};

class Recorder final : public StationObserver {
  public:
    void onEvent(const StationEvent& event) override {
        events.push_back(event);
        times.push_back(clock != nullptr ? *clock : 0);
        if (event.kind == StationEventKind::Record) records.push_back(*event.record);
    }
    const std::uint32_t* clock = nullptr;
    std::vector<StationEvent> events;
    std::vector<std::uint32_t> times;  // the fake clock at each event
    std::vector<UnitRecord> records;
};

// Numbers from `next` up to `highest`.
class CountingSerials final : public SerialSource {
  public:
    std::string description() const override { return "the counter"; }
    SerialTake check(std::uint64_t) override { return {SerialStatus::Taken, next, ""}; }
    SerialTake take(std::uint64_t highest, const std::atomic<bool>*) override {
        if (next > highest) return {SerialStatus::Exhausted, 0, "no number is left"};
        return {SerialStatus::Taken, next++, ""};
    }
    std::uint64_t next = 100;
};

struct Station {
    explicit Station(std::size_t slotCount, StationSettings extra = {}) : slots(slotCount) {
        settings = std::move(extra);
        for (std::size_t i = 0; i < slotCount; ++i)
            settings.ports.push_back("COM" + std::to_string(i + 1));
        settings.station = "bench";
        recorder.clock = &slots.now;
    }

    // Steps the slots in the order of their due times until they all end or
    // the clock passes `untilMs`; `at` runs once the clock has passed its time.
    void run(std::uint32_t untilMs, std::map<std::uint32_t, std::function<void()>> at = {}) {
        if (!engine)
            engine = std::make_unique<StationEngine>(settings, slots, recorder,
                                                     [this] { return slots.now; });
        std::vector<std::optional<std::uint32_t>> due(settings.ports.size(), slots.now);
        for (;;) {
            std::size_t next = due.size();
            for (std::size_t i = 0; i < due.size(); ++i) {
                if (due[i] && (next == due.size() || *due[i] < *due[next])) next = i;
            }
            if (next == due.size()) return;
            slots.now = std::max(slots.now, *due[next]);
            if (slots.now > untilMs) return;
            while (!at.empty() && at.begin()->first <= slots.now) {
                at.begin()->second();
                at.erase(at.begin());
            }
            due[next] = engine->step(next);
        }
    }

    int results(std::size_t slot) const {
        int count = 0;
        for (const UnitRecord& record : recorder.records) {
            count += record.event == RecordEvent::Result && record.port == settings.ports[slot];
        }
        return count;
    }

    StationSettings settings;
    FakeSlots slots;
    Recorder recorder;
    std::unique_ptr<StationEngine> engine;
};

TEST(StationEngine, ARemovalIsSeenQuicklyAndAGlitchIsNot) {
    Station station(1);
    // Board 1 from the start; silences of 150 and 250 ms and a 150 ms port
    // loss while it sits; then taken away for 500 ms and board 2 placed.
    station.slots.boards[0] = {{0, 10000}, {10500, UINT32_MAX}};
    station.slots.gaps[0] = {{4000, 4150, Presence::Silent},
                             {6000, 6150, Presence::PortAbsent},
                             {8000, 8250, Presence::Silent}};
    station.run(20000);
    EXPECT_EQ(station.slots.flashes[0], 2);
    ASSERT_EQ(station.results(0), 2);
    EXPECT_EQ(station.recorder.records.back().unit, 2);
    // Armed again within half a second of the removal.
    std::uint32_t armedAt = 0;
    for (std::size_t i = 0; i < station.recorder.events.size(); ++i) {
        const StationEvent& event = station.recorder.events[i];
        if (event.kind == StationEventKind::Slot && event.state == SlotState::Waiting) {
            armedAt = station.recorder.times[i];
        }
    }
    EXPECT_GT(armedAt, 10000u);
    EXPECT_LE(armedAt, 10500u);
}

TEST(StationEngine, AFailedAttemptIsRetriedAsTheSameUnitAndTheLimitEndsTheStation) {
    CountingSerials serials;
    StationSettings settings;
    settings.retries = 1;
    settings.limit = 2;
    settings.serials = &serials;
    Station station(2, settings);
    station.slots.boards[0] = {{0, 3000}, {4000, UINT32_MAX}};
    station.slots.boards[1] = {{0, UINT32_MAX}};
    station.slots.outcomes[1] = {PortOutcome::TransferFailed};
    station.run(60000);
    EXPECT_TRUE(station.engine->end().passed == 2);
    // Slot 2's unit: a failed attempt and a passed one, with one serial number.
    std::vector<const UnitRecord*> slot2;
    for (const UnitRecord& record : station.recorder.records) {
        if (record.port == "COM2" && record.event == RecordEvent::Result) slot2.push_back(&record);
    }
    ASSERT_EQ(slot2.size(), 2u);
    EXPECT_EQ(slot2[0]->attempt, 1);
    EXPECT_EQ(slot2[1]->attempt, 2);
    EXPECT_EQ(slot2[0]->unit, slot2[1]->unit);
    EXPECT_EQ(slot2[0]->serial, slot2[1]->serial);
    EXPECT_EQ(serials.next, 102u);  // two units, two numbers
    // Every result follows its own start record.
    for (std::size_t i = 0; i < station.recorder.records.size(); i += 2) {
        EXPECT_EQ(station.recorder.records[i].event, RecordEvent::Start);
        EXPECT_EQ(station.recorder.records[i + 1].event, RecordEvent::Result);
        EXPECT_EQ(station.recorder.records[i].serial, station.recorder.records[i + 1].serial);
    }
    // The limit stopped arming: the board placed again on slot 1 was not flashed.
    EXPECT_EQ(station.slots.flashes[0], 1);
    EXPECT_FALSE(station.engine->end().serialsFailed);
}

TEST(StationEngine, ARestartWaitsForAPassedBoardAndFinishesAHalfWrittenOne) {
    CountingSerials serials;
    StationSettings settings;
    settings.serials = &serials;
    settings.memory.lastUnit = 7;
    settings.memory.slots.resize(2);
    settings.memory.slots[0] = {SlotMemory::Board::Passed, 6, 1, 506};
    settings.memory.slots[1] = {SlotMemory::Board::HalfWritten, 7, 1, 507};
    Station station(2, settings);
    station.slots.boards[0] = {{0, 5000}, {6000, UINT32_MAX}};
    station.slots.boards[1] = {{0, UINT32_MAX}};
    station.run(15000);
    // The passed board is not flashed again; the next one on its slot is unit 8.
    ASSERT_EQ(station.slots.serials[0].size(), 1u);
    EXPECT_EQ(station.slots.serials[0][0], 100u);
    // The half-written board is flashed again as unit 7, attempt 2, serial 507.
    ASSERT_EQ(station.slots.serials[1], std::vector<std::uint64_t>{507});
    const UnitRecord* resumed = nullptr;
    for (const UnitRecord& record : station.recorder.records) {
        if (record.port == "COM2" && record.event == RecordEvent::Result) resumed = &record;
        if (record.port == "COM1" && record.event == RecordEvent::Result) {
            EXPECT_EQ(record.unit, 8);
        }
    }
    ASSERT_NE(resumed, nullptr);
    EXPECT_EQ(resumed->unit, 7);
    EXPECT_EQ(resumed->attempt, 2);
    EXPECT_EQ(resumed->serial, 507u);
    EXPECT_EQ(serials.next, 101u);  // only the new unit took a number
}

TEST(StationEngine, NumbersRunningOutStopArmingAndTheBoardsInFlightFinish) {
    CountingSerials serials;
    StationSettings settings;
    settings.serials = &serials;
    settings.highestSerial = 100;  // one number left
    Station station(2, settings);
    station.slots.boards[0] = {{0, UINT32_MAX}};
    station.slots.boards[1] = {{0, UINT32_MAX}};
    station.run(60000);
    EXPECT_TRUE(station.engine->finished());
    const StationEnd end = station.engine->end();
    EXPECT_EQ(end.passed, 1);
    EXPECT_EQ(end.failed, 1);
    EXPECT_TRUE(end.serialsFailed);
    int refused = 0;
    for (const UnitRecord& record : station.recorder.records) {
        if (record.event == RecordEvent::Result && !record.ok) {
            EXPECT_EQ(record.reason, "no serial number left");
            ++refused;
        }
    }
    EXPECT_EQ(refused, 1);
}

TEST(StationEngine, StopLetsTheBoardsInFlightFinishAndAbortEndsThem) {
    for (const bool abort : {false, true}) {
        Station station(1);
        station.slots.boards[0] = {{0, UINT32_MAX}};
        station.slots.atTransfer = [&](std::size_t) {
            if (abort) {
                station.engine->abort("hang-up");
            } else {
                station.engine->stop("stopping");
            }
        };
        station.run(60000);
        EXPECT_TRUE(station.engine->finished()) << abort;
        ASSERT_EQ(station.results(0), 1) << abort;
        EXPECT_EQ(station.recorder.records.back().ok, !abort);
        EXPECT_EQ(station.engine->end().aborted, abort);
    }
}

TEST(StationEngine, TheStartRecordIsSyncedBeforeTheTransferAndALostLogStopsArming) {
    char folder[] = "/tmp/quorvel-engine-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/station.log";
    RecordLog log;
    int osError = 0;
    std::string error;
    ASSERT_TRUE(log.open(path, osError, error)) << error;
    StationSettings settings;
    settings.log = &log;
    Station station(1, settings);
    station.slots.boards[0] = {{0, UINT32_MAX}};
    std::string logged;
    station.slots.atTransfer = [&](std::size_t) {
        // The start record is on disk by the time the first image byte goes.
        readLogText(path, logged, error);
    };
    station.run(1000);
    const RecordLines lines = parseRecordLines(logged);
    ASSERT_EQ(lines.records.size(), 1u) << logged;
    EXPECT_EQ(lines.records[0].event, RecordEvent::Start);
    EXPECT_EQ(lines.records[0].unit, 1);
    std::remove(path.c_str());
    rmdir(folder);
}

TEST(RestartMemory, TheLastEventOfEachSlotOfThisStationDecides) {
    auto record = [](const char* station, const char* port, std::int64_t unit, RecordEvent event,
                     bool ok) {
        UnitRecord made;
        made.station = station;
        made.port = port;
        made.unit = unit;
        made.event = event;
        made.ok = ok;
        made.serial = 1000 + static_cast<std::uint64_t>(unit);
        return made;
    };
    const std::vector<UnitRecord> records = {
        record("a", "COM1", 1, RecordEvent::Start, false),
        record("a", "COM1", 1, RecordEvent::Result, true),
        record("a", "COM2", 2, RecordEvent::Start, false),
        record("b", "COM2", 9, RecordEvent::Result, true),  // another station's slot
        record("a", "COM3", 3, RecordEvent::Result, false),
    };
    const StationMemory memory = rememberStation(records, "a", {"COM1", "COM2", "COM3", "COM4"});
    EXPECT_EQ(memory.lastUnit, 3);
    EXPECT_EQ(memory.slots[0].board, SlotMemory::Board::Passed);
    EXPECT_EQ(memory.slots[1].board, SlotMemory::Board::HalfWritten);
    EXPECT_EQ(memory.slots[1].serial, 1002u);
    EXPECT_EQ(memory.slots[2].board, SlotMemory::Board::Unknown);
    EXPECT_EQ(memory.slots[3].board, SlotMemory::Board::Unknown);
}

}  // namespace

namespace {

TEST(EventQueue, AStalledReaderHoldsOneProgressPerSlotAndTheEndRepeats) {
    EventQueue queue;
    for (int percent = 0; percent <= 100; ++percent) {
        for (std::size_t slot = 0; slot < 2; ++slot) {
            StationEvent progress;
            progress.kind = StationEventKind::Progress;
            progress.slot = slot;
            progress.percent = percent;
            queue.onEvent(progress);
        }
    }
    StationEvent ended;
    ended.kind = StationEventKind::Ended;
    queue.onEvent(ended);
    StationEvent event;
    for (std::size_t slot = 0; slot < 2; ++slot) {
        ASSERT_TRUE(queue.next(event, 0));
        EXPECT_EQ(event.slot, slot);
        EXPECT_EQ(event.percent, 100);  // the latest, not the first
    }
    for (int again = 0; again < 2; ++again) {
        ASSERT_TRUE(queue.next(event, 0));
        EXPECT_EQ(event.kind, StationEventKind::Ended);
    }
}

}  // namespace
