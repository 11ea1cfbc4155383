// The station page's state as the engine's events build it, the figures the
// page and the report share, and the address the page is served at.
#include "web/station_view.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "station/throughput.h"
#include "web/listen_address.h"

namespace {

using Json = nlohmann::ordered_json;

constexpr std::int64_t kStartMs = 1'800'000'000'000;
constexpr std::int64_t kMinuteMs = 60'000;

StationEvent slotEvent(std::size_t slot, SlotState state, const std::string& reason = "",
                       std::optional<std::int64_t> unit = {},
                       std::optional<std::uint64_t> serial = {}) {
    StationEvent event;
    event.kind = StationEventKind::Slot;
    event.slot = slot;
    event.state = state;
    event.reason = reason;
    event.unit = unit;
    event.serial = serial;
    return event;
}

StationEvent progressEvent(std::size_t slot, int percent) {
    StationEvent event;
    event.kind = StationEventKind::Progress;
    event.slot = slot;
    event.percent = percent;
    return event;
}

StationEvent totalsEvent(int passed, int failed, const std::string& remark = "") {
    StationEvent event;
    event.kind = StationEventKind::Totals;
    event.passed = passed;
    event.failed = failed;
    event.text = remark;
    return event;
}

StationEvent failedResult(const std::string& reason) {
    StationEvent event;
    event.kind = StationEventKind::Record;
    UnitRecord record;
    record.event = RecordEvent::Result;
    record.ok = false;
    record.reason = reason;
    event.record = record;
    return event;
}

struct ViewFixture {
    std::int64_t nowMs = kStartMs;
    std::vector<bool> changes;
    StationView view{StationPageFacts{"line 3", {"COM5", "COM6"}, "fw.bin", "ab12", 4096},
                     [this] { return nowMs; },
                     [this](bool significant) { changes.push_back(significant); }};
};

TEST(StationView, ATileShowsItsBoardPassAndFailWithTheReasonAndWhenToRemoveIt) {
    ViewFixture f;
    f.view.onEvent(slotEvent(0, SlotState::Flashing, "", 1, 100));
    f.view.onEvent(progressEvent(0, 40));
    Json tile = f.view.state()["slots"][0];
    EXPECT_EQ(tile["state"], "flashing");
    EXPECT_EQ(tile["percent"], 40);
    EXPECT_EQ(tile["unit"], 1);
    EXPECT_EQ(tile["serial"], 100);
    EXPECT_TRUE(tile["last_result"].is_null());
    EXPECT_FALSE(tile["remove_board"]);

    f.view.onEvent(slotEvent(0, SlotState::Passed, "", 1, 100));
    tile = f.view.state()["slots"][0];
    EXPECT_EQ(tile["state_text"], "PASS");
    EXPECT_EQ(tile["last_result"]["text"], "PASS");
    EXPECT_EQ(tile["percent"], 100);
    EXPECT_TRUE(tile["remove_board"]);

    // Taken away: the last result stays; the next board starts from 0 %.
    f.view.onEvent(slotEvent(0, SlotState::Waiting));
    f.view.onEvent(slotEvent(0, SlotState::Flashing, "", 2, 101));
    tile = f.view.state()["slots"][0];
    EXPECT_FALSE(tile["remove_board"]);
    EXPECT_EQ(tile["percent"], 0);
    EXPECT_EQ(tile["last_result"]["unit"], 1);

    // A retry keeps the bar where the board is; the failure names its reason.
    f.view.onEvent(progressEvent(0, 70));
    f.view.onEvent(slotEvent(0, SlotState::Retrying, "device refused", 2, 101));
    f.view.onEvent(slotEvent(0, SlotState::Flashing, "", 2, 101));
    EXPECT_EQ(f.view.state()["slots"][0]["percent"], 70);
    f.view.onEvent(slotEvent(0, SlotState::Failed, "no device", 2, 101));
    tile = f.view.state()["slots"][0];
    EXPECT_EQ(tile["state_text"], "FAIL no device");
    EXPECT_EQ(tile["last_result"], Json({{"passed", false},
                                         {"text", "FAIL"},
                                         {"reason", "no device"},
                                         {"unit", 2},
                                         {"serial", 101}}));
    EXPECT_TRUE(tile["remove_board"]);
    // The other slot is untouched, and a slot the station does not have is ignored.
    f.view.onEvent(slotEvent(7, SlotState::Passed));
    EXPECT_EQ(f.view.state()["slots"][1]["state"], "waiting");
    EXPECT_EQ(f.view.state()["slots"].size(), 2u);
}

TEST(StationView, OnlyProgressAloneIsAMinorChange) {
    ViewFixture f;
    f.view.onEvent(progressEvent(1, 5));
    f.view.onEvent(slotEvent(1, SlotState::Flashing));
    f.view.onEvent(totalsEvent(0, 0));
    StationEvent note;
    note.kind = StationEventKind::Note;
    note.text = "slow adapter";
    f.view.onEvent(note);
    EXPECT_EQ(f.changes, (std::vector<bool>{false, true, true, true}));
}

TEST(StationView, CountsYieldBoardsPerHourAndReasonsFollowTheRun) {
    ViewFixture f;
    Json state = f.view.state();
    EXPECT_TRUE(state["yield_percent"].is_null());
    EXPECT_TRUE(state["boards_per_hour"].is_null());  // under a second of run time

    f.nowMs = kStartMs + 1 * kMinuteMs;
    f.view.onEvent(failedResult("no device"));  // retried: an attempt, not a board
    f.view.onEvent(totalsEvent(2, 0));
    f.nowMs = kStartMs + 6 * kMinuteMs;
    f.view.onEvent(failedResult("device refused"));
    f.view.onEvent(failedResult("no device"));
    f.view.onEvent(totalsEvent(2, 1, "limit of 2 reached"));
    f.nowMs = kStartMs + 12 * kMinuteMs;
    state = f.view.state();
    EXPECT_EQ(state["passed"], 2);
    EXPECT_EQ(state["failed"], 1);
    EXPECT_NEAR(state["yield_percent"].get<double>(), 66.667, 0.001);
    EXPECT_NEAR(state["boards_per_hour"].get<double>(), 15.0, 1e-9);  // 3 in 12 minutes
    EXPECT_EQ(state["run_seconds"], 720.0);
    EXPECT_EQ(state["remark"], "limit of 2 reached");
    EXPECT_EQ(state["boards_per_hour_by_step"]["values"], Json({24.0, 12.0, 0.0}));
    EXPECT_EQ(state["failure_reasons"], Json({{{"reason", "no device"}, {"count", 2}},
                                              {{"reason", "device refused"}, {"count", 1}}}));

    // Once ended, the run time stands still.
    StationEvent ended;
    ended.kind = StationEventKind::Ended;
    f.view.onEvent(ended);
    f.nowMs += 60 * kMinuteMs;
    EXPECT_EQ(f.view.state()["run_seconds"], 720.0);
    EXPECT_TRUE(f.view.state()["ended"]);
}

TEST(StationView, TheDatabaseShowsOnceReportedAndNotesKeepTheLatest) {
    ViewFixture f;
    EXPECT_TRUE(f.view.state()["database"].is_null());
    StationEvent database;
    database.kind = StationEventKind::Database;
    database.databaseOnline = false;
    database.recordsWaiting = 3;
    f.view.onEvent(database);
    EXPECT_EQ(f.view.state()["database"], Json({{"online", false},
                                                {"records_waiting", 3},
                                                {"text", "database offline, 3 records waiting"}}));
    for (int i = 0; i < 20; ++i) {
        StationEvent note;
        note.kind = StationEventKind::Note;
        note.text = "note " + std::to_string(i);
        f.view.onEvent(note);
    }
    const Json notes = f.view.state()["notes"];
    ASSERT_EQ(notes.size(), 8u);
    EXPECT_EQ(notes.back(), "note 19");
}

TEST(Throughput, BoardsPerHourInFiveMinuteStepsAndEachUnitsLastResult) {
    const std::int64_t step = kThroughputStepMs;
    EXPECT_EQ(boardsPerHourBySteps({0, step - 1, step, 3 * step, -1, 4 * step}, 0, 3 * step),
              (std::vector<double>{24.0, 12.0, 0.0, 12.0}));
    EXPECT_EQ(boardsPerHourBySteps({}, 10, 10), (std::vector<double>{0.0}));
    EXPECT_TRUE(boardsPerHourBySteps({5}, 10, 9).empty());
    EXPECT_FALSE(boardsPerHourOver(3, 999));
    EXPECT_DOUBLE_EQ(*boardsPerHourOver(3, 3600000), 3.0);
    EXPECT_FALSE(yieldPercentOf(0, 0));
    EXPECT_DOUBLE_EQ(*yieldPercentOf(1, 3), 25.0);

    // Unit 1 retried: its second attempt ends it, even when an older line comes later.
    std::vector<UnitRecord> records(4);
    records[0].unit = 1, records[0].attempt = 1, records[0].timeMs = 100;
    records[1].unit = 1, records[1].attempt = 2, records[1].timeMs = 300;
    records[2].unit = 2, records[2].event = RecordEvent::Start, records[2].timeMs = 400;
    records[3].unit = 2, records[3].attempt = 1, records[3].timeMs = 500;
    std::vector<std::int64_t> finished = unitFinishTimes(records);
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ(finished, (std::vector<std::int64_t>{300, 500}));
}

TEST(ListenAddress, PortAloneIsLoopbackAndAddressesAreTakenAsWritten) {
    struct Case {
        const char* text;
        const char* host;
        int port;
    };
    for (const Case& c : {Case{"8080", "127.0.0.1", 8080}, Case{"0", "127.0.0.1", 0},
                          Case{"0.0.0.0:80", "0.0.0.0", 80}, Case{"[::1]:65535", "::1", 65535},
                          Case{"localhost:9000", "localhost", 9000}}) {
        ListenAddress address;
        std::string error;
        ASSERT_TRUE(parseListenAddress(c.text, address, error)) << c.text << ": " << error;
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
    }
    for (const char* bad :
         {"", "65536", "-1", "80a", ":80", "::1:80", "[::1]80", "host:", "1234567"}) {
        ListenAddress address;
        std::string error;
        EXPECT_FALSE(parseListenAddress(bad, address, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
    EXPECT_EQ(pageUrl("::1", 80), "http://[::1]:80/");
}

}  // namespace
