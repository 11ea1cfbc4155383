// quorvel-cli station against simulated boards that are placed on their slots
// and taken away: each board flashed once with its own serial number, retries,
// the limit, quick swaps and glitches, a station killed and started again, a
// torn log, two stations on one log, the checks at start-up, a log that cannot
// be written, Ctrl-C twice and a hang-up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"

namespace {

using Json = nlohmann::json;

// Each board takes its 7 s pause after the transfer; a few boards in a row fit well inside.
constexpr int kStationLimitMs = 60000;
constexpr std::uint32_t kSerialAddress = 0x108010;

// The log's records of `event` ("result" or "start"), in order.
std::vector<Json> records(const std::string& path, const std::string& event = "result") {
    std::vector<Json> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        Json record = Json::parse(line, nullptr, false);
        if (record.is_object() && record.value("event", "") == event) lines.push_back(record);
    }
    return lines;
}

// How often board `board` of a simulator's transcript began a transfer.
std::size_t transfersOf(const std::string& transcript, int board) {
    const std::size_t from =
        board == 1 ? 0 : transcript.find("place board " + std::to_string(board));
    const std::size_t to = transcript.find("place board " + std::to_string(board + 1));
    std::size_t count = 0;
    for (std::size_t at = transcript.find("boot rx start", from);
         at < to && at != std::string::npos; at = transcript.find("boot rx start", at + 1)) {
        ++count;
    }
    return count;
}

std::string fileText(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The image as a board holding `serial` (little-endian at kSerialAddress) must have it.
Bytes withSerial(Bytes image, std::uint32_t serial) {
    for (int i = 0; i < 4; ++i)
        image[kSerialAddress - 0x108000 + i] = static_cast<std::uint8_t>(serial >> (8 * i));
    return image;
}

struct StationSetup {
    TempFolder folder;
    Bytes image = pattern(3000, 21);
    std::string imagePath = folder.write("image.bin", text(image));
    std::string logPath = folder.pathOf("station.log");
    std::string serialPath = folder.write("serial.txt", "1000\n");

    std::vector<std::string> arguments(const std::vector<std::string>& ports,
                                       const std::vector<std::string>& extra) const {
        std::vector<std::string> words{"station",     "--no-progress", "--log",         logPath,
                                       "--serial-at", "0x108010",      "--serial-file", serialPath};
        for (const std::string& port : ports) {
            words.push_back("--port");
            words.push_back(port);
        }
        words.insert(words.end(), extra.begin(), extra.end());
        words.push_back(imagePath);
        return words;
    }
};

TEST(Station, BoardsAreFlashedOnceAsTheyArriveEachWithItsSerial) {
    StationSetup setup;
    DevsimProcess empty({"--start", "none"}, 1);
    DevsimProcess occupied({"--start", "boot"}, 2);
    ASSERT_TRUE(empty.started() && occupied.started());

    CliProcess station(
        setup.arguments({empty.linkPath(), occupied.linkPath()}, {"--json", "--limit", "3"}));
    ASSERT_TRUE(empty.control("place boot"));
    // Both boards pass; the one left on its slot is not flashed again meanwhile.
    ASSERT_TRUE(station.waitForError(occupied.linkPath() + "  PASS", 20000)) << station.soFar().err;
    ASSERT_TRUE(station.waitForError(empty.linkPath() + "  PASS", 20000)) << station.soFar().err;
    ASSERT_TRUE(occupied.control("remove"));
    // A board goes on only once the slot has seen itself empty.
    ASSERT_TRUE(station.waitForError(occupied.linkPath() + "  waiting", 10000))
        << station.soFar().err;
    ASSERT_TRUE(occupied.control("place boot"));
    const CliOutcome run = station.finish(kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;

    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 3u) << fileText(setup.logPath);
    std::map<std::string, std::vector<std::uint32_t>> serialsByPort;
    std::set<int> units;
    for (const Json& record : logged) {
        ASSERT_TRUE(record.is_object());
        EXPECT_EQ(record["ok"], true) << record;
        EXPECT_EQ(record["attempt"], 1);
        EXPECT_EQ(record["image_bytes"], 3000);
        EXPECT_EQ(record["image_sha256"].get<std::string>().size(), 64u);
        EXPECT_EQ(record["time"].get<std::string>().size(), 24u);  // 2026-12-07T17:25:26.123Z
        units.insert(record["unit"].get<int>());
        serialsByPort[record["port"]].push_back(record["serial"].get<std::uint32_t>());
    }
    EXPECT_EQ(units, (std::set<int>{1, 2, 3}));
    EXPECT_EQ(run.out, fileText(setup.logPath));  // the same JSON lines
    EXPECT_EQ(fileText(setup.serialPath), "1003\n");

    ASSERT_EQ(serialsByPort[empty.linkPath()].size(), 1u);
    ASSERT_EQ(serialsByPort[occupied.linkPath()].size(), 2u);
    empty.stop();
    occupied.stop();
    EXPECT_EQ(empty.flash(2), withSerial(setup.image, serialsByPort[empty.linkPath()][0]));
    EXPECT_EQ(occupied.flash(1), withSerial(setup.image, serialsByPort[occupied.linkPath()][0]));
    EXPECT_EQ(occupied.flash(2), withSerial(setup.image, serialsByPort[occupied.linkPath()][1]));
    const std::string transcript = occupied.transcript();
    const std::size_t secondBoard = transcript.find("place board 2");
    ASSERT_NE(secondBoard, std::string::npos);
    EXPECT_EQ(transcript.find("boot rx start", transcript.find("boot rx start") + 1),
              transcript.find("boot rx start", secondBoard))
        << "the first board was flashed twice";
}

TEST(Station, AFailedTransferIsRetriedOnTheSameBoardAndTheLimitEndsTheStation) {
    StationSetup setup;
    DevsimProcess device({"--start", "boot", "--fault", "data-status=2@1,once"}, 1);
    ASSERT_TRUE(device.started());
    const CliOutcome run = runCli(
        setup.arguments({device.linkPath()}, {"--retries", "1", "--limit", "1"}), kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0]["ok"], false);
    EXPECT_EQ(logged[0]["reason"], "packet damaged (-9978)");
    EXPECT_EQ(logged[1]["ok"], true);
    EXPECT_EQ(logged[0]["unit"], logged[1]["unit"]);
    EXPECT_EQ(logged[1]["attempt"], 2);
    EXPECT_EQ(logged[0]["serial"], logged[1]["serial"]);  // the unit keeps its number
    EXPECT_NE(run.out.find("unit 1 attempt 2 serial 1000: " + device.linkPath() + ": ok"),
              std::string::npos)
        << run.out;
}

TEST(Station, ARestartWaitsForAPassedBoardAndFinishesAHalfWrittenOneAsItsUnit) {
    StationSetup setup;
    DevsimProcess passed({"--start", "boot"}, 1);
    DevsimProcess cut({"--start", "none", "--baud", "9600"}, 2);
    ASSERT_TRUE(passed.started() && cut.started());
    {
        CliProcess station(setup.arguments({passed.linkPath(), cut.linkPath()}, {"--json"}));
        ASSERT_TRUE(station.waitForError(passed.linkPath() + "  PASS", 30000))
            << station.soFar().err;
        ASSERT_TRUE(cut.control("place boot"));
        // Killed in the middle of the second board's transfer, its serial taken.
        ASSERT_TRUE(cut.waitForTranscript("boot rx data", 20000));
        const CliOutcome killed = station.kill();
        EXPECT_EQ(killed.out, fileText(setup.logPath));  // every record shown is in the log
    }
    EXPECT_EQ(fileText(setup.serialPath), "1002\n");
    ASSERT_EQ(records(setup.logPath, "start").size(), 2u);

    // Started again: the passed board waits to be taken away; the half-written
    // one is flashed again as its unit, with its serial number.
    CliProcess again(setup.arguments({passed.linkPath(), cut.linkPath()}, {"--json"}));
    ASSERT_TRUE(again.waitForError(cut.linkPath() + "  PASS", 40000)) << again.soFar().err;
    EXPECT_NE(
        again.soFar().err.find(passed.linkPath() + "  PASS  unit 1  serial 1000  remove board"),
        std::string::npos)
        << again.soFar().err;
    again.interrupt();  // once, with nothing in flight: a clean end
    const CliOutcome run = again.finish(10000);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 2u) << fileText(setup.logPath);
    EXPECT_EQ(logged[1]["unit"], 2);
    EXPECT_EQ(logged[1]["attempt"], 2);
    EXPECT_EQ(logged[1]["serial"], 1001);
    EXPECT_EQ(fileText(setup.serialPath), "1002\n");
    EXPECT_EQ(transfersOf(passed.transcript(), 1), 1u);
    cut.stop();
    EXPECT_EQ(cut.flash(2), withSerial(setup.image, 1001));
}

TEST(Station, AQuickSwapIsFlashedAndAGlitchIsNot) {
    StationSetup setup;
    DevsimProcess device({"--start", "boot"}, 1);
    ASSERT_TRUE(device.started());
    CliProcess station(setup.arguments({device.linkPath()}, {"--limit", "2"}));
    ASSERT_TRUE(station.waitForError(device.linkPath() + "  PASS", 20000)) << station.soFar().err;
    // A hub's glitch and a moment's silence: the board stays the one flashed.
    ASSERT_TRUE(device.control("glitch 150"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ASSERT_TRUE(device.control("glitch 150 silent"));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // Swapped with the slot empty for half a second: the new board is flashed.
    ASSERT_TRUE(device.control("remove"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_TRUE(device.control("place boot"));
    const CliOutcome run = station.finish(kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string transcript = device.transcript();
    EXPECT_EQ(transfersOf(transcript, 1), 1u) << transcript;
    EXPECT_EQ(transfersOf(transcript, 2), 1u) << transcript;
    EXPECT_EQ(records(setup.logPath).size(), 2u);
}

TEST(Station, ATornLogGetsItsLineEndAndEveryUnitStartsOnRecord) {
    StationSetup setup;
    const std::string fragment = "{\"event\":\"result\",\"time\":\"2026-12-0";
    setup.folder.write("station.log", fragment);
    DevsimProcess device({"--start", "boot"}, 1);
    ASSERT_TRUE(device.started());
    const CliOutcome run =
        runCli(setup.arguments({device.linkPath()}, {"--limit", "1", "--station", "line 3"}),
               kStationLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    std::istringstream lines(fileText(setup.logPath));
    std::string line;
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line, fragment);  // left as it was, on a line of its own
    const Json start = records(setup.logPath, "start").at(0);
    const Json result = records(setup.logPath).at(0);
    for (const Json* record : {&start, &result}) {
        EXPECT_EQ((*record)["station"], "line 3");
        EXPECT_EQ((*record)["unit"], 1);
        EXPECT_EQ((*record)["serial"], 1000);
        EXPECT_EQ((*record)["image_path"], setup.imagePath);
        EXPECT_EQ((*record)["image_file_sha256"],
                  (*record)["image_sha256"]);  // a .bin is its bytes
    }
    const CliOutcome report = runCli({"report", setup.logPath});
    EXPECT_NE(report.err.find("line 1: cannot be read, skipped"), std::string::npos) << report.err;
}

TEST(Station, TwoStationsOnOneLogAndOneSerialFileAreBothCounted) {
    StationSetup setup;
    DevsimProcess first({"--start", "boot"}, 1);
    DevsimProcess second({"--start", "boot"}, 2);
    ASSERT_TRUE(first.started() && second.started());
    CliProcess a(setup.arguments({first.linkPath()}, {"--limit", "1", "--station", "A"}));
    CliProcess b(setup.arguments({second.linkPath()}, {"--limit", "1", "--station", "B"}));
    EXPECT_EQ(a.finish(kStationLimitMs).status, 0);
    EXPECT_EQ(b.finish(kStationLimitMs).status, 0);
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(std::set<std::string>({logged[0]["station"], logged[1]["station"]}),
              (std::set<std::string>{"A", "B"}));
    EXPECT_EQ(logged[0]["unit"], 1);
    EXPECT_EQ(logged[1]["unit"], 1);  // unit numbers are per station
    EXPECT_NE(logged[0]["serial"], logged[1]["serial"]);
    const Json report = Json::parse(runCli({"report", "--json", setup.logPath}).out);
    EXPECT_EQ(report["overall"]["units"], 2);
}

TEST(Station, RunningOutOfNumbersStopsArmingAndEndsWithStatus5) {
    StationSetup setup;
    setup.serialPath = setup.folder.write("serial.txt", "99\n");
    DevsimProcess first({"--start", "boot"}, 1);
    DevsimProcess second({"--start", "boot"}, 2);
    ASSERT_TRUE(first.started() && second.started());
    const CliOutcome run = runCli(
        setup.arguments({first.linkPath(), second.linkPath()}, {"--serial-format", "ascii:2"}),
        kStationLimitMs);
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_NE(run.err.find("no serial number is left"), std::string::npos) << run.err;
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 2u) << fileText(setup.logPath);
    const bool firstPassed = logged[0]["ok"] == true;
    EXPECT_EQ(logged[firstPassed ? 0 : 1]["serial"], 99);
    EXPECT_EQ(logged[firstPassed ? 1 : 0]["reason"], "no serial number left");
    EXPECT_EQ(fileText(setup.serialPath), "100\n");
}

TEST(Station, StartUpChecksComeBeforeAnyBoard) {
    StationSetup setup;
    DevsimProcess device({"--start", "boot"}, 1);
    ASSERT_TRUE(device.started());
    // A serial number must be recorded.
    CliOutcome run = runCli({"station", "--serial-at", "0x108010", "--serial-file",
                             setup.serialPath, "--port", device.linkPath(), setup.imagePath});
    EXPECT_EQ(run.status, 2) << run.err;
    // A port that exists but cannot be opened as a port is named, with the OS error.
    const std::string notAPort = setup.folder.write("not-a-port", "");
    run = runCli(setup.arguments({notAPort}, {}));
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.err.find(notAPort + " cannot be opened"), std::string::npos) << run.err;
    // A serial-number file that is missing, or holds a number too wide for its format.
    setup.serialPath = setup.folder.pathOf("missing.txt");
    run = runCli(setup.arguments({device.linkPath()}, {}));
    EXPECT_EQ(run.status, 5) << run.err;
    setup.serialPath = setup.folder.write("wide.txt", "4294967296\n");
    run = runCli(setup.arguments({device.linkPath()}, {}));
    EXPECT_EQ(run.status, 5) << run.err;
    // A lock held by another program: the wait has an end.
    setup.serialPath = setup.folder.write("locked.txt", "1000\n");
    const int held = open(setup.serialPath.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    run = runCli(setup.arguments({device.linkPath()}, {}), 30000);
    close(held);
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_EQ(transfersOf(device.transcript(), 1), 0u);  // no board was touched
    EXPECT_FALSE(std::ifstream(setup.logPath).good());
}

TEST(Station, ALogThatCannotBeWrittenStopsTheStationWithStatus5) {
    StationSetup setup;
    setup.logPath = "/dev/full";
    DevsimProcess device({"--start", "boot"}, 1);
    ASSERT_TRUE(device.started());
    const CliOutcome run = runCli(setup.arguments({device.linkPath()}, {}), kStationLimitMs);
    EXPECT_EQ(run.status, 5) << run.err;
    EXPECT_NE(run.err.find("cannot be written"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("not in the log: "), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");  // nothing shown as a result that is not on disk
}

TEST(Station, CtrlCOnceStopsArmingAndTwiceOrAHangUpEndsTheBoardsInFlight) {
    for (const bool hangUp : {false, true}) {
        StationSetup setup;
        setup.imagePath = setup.folder.write("large.bin", text(pattern(200000, 3)));
        DevsimProcess device({"--start", "boot", "--baud", "115200"}, 1);
        ASSERT_TRUE(device.started());
        CliProcess station(setup.arguments({device.linkPath()}, {}));
        ASSERT_TRUE(device.waitForTranscript("boot rx data", 20000));
        if (hangUp) {
            station.hangUp();
        } else {
            station.interrupt();
            ASSERT_TRUE(station.waitForError("stopping; Ctrl-C again aborts", 5000))
                << station.soFar().err;
            station.interrupt();
        }
        const CliOutcome run = station.finish(5000);
        EXPECT_EQ(run.status, 130) << run.err;
        const std::vector<Json> logged = records(setup.logPath);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_EQ(logged[0]["reason"], "interrupted");
        EXPECT_EQ(records(setup.logPath, "start").at(0)["serial"], 1000);
    }
}

}  // namespace
