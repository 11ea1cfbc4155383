// quorvel-cli station against simulated boards that are placed on their slots
// and taken away: each board flashed once with its own serial number, retries,
// the limit, a station killed and started again, a log that cannot be written,
// and Ctrl-C twice.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"

namespace {

using Json = nlohmann::json;

// Each board takes its 7 s pause after the transfer; a few boards in a row fit well inside.
constexpr int kStationLimitMs = 60000;
constexpr std::uint32_t kSerialAddress = 0x108010;

std::vector<Json> records(const std::string& path) {
    std::vector<Json> lines;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);)
        lines.push_back(Json::parse(line, nullptr, false));
    return lines;
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

TEST(Station, AKilledStationNeverGivesASerialTwiceAndLogsEveryResultItShowed) {
    StationSetup setup;
    DevsimProcess device({"--start", "boot", "--baud", "115200"}, 1);
    ASSERT_TRUE(device.started());
    {
        CliProcess station(setup.arguments({device.linkPath()}, {"--json"}));
        ASSERT_TRUE(station.waitForError("PASS", 30000)) << station.soFar().err;
        ASSERT_TRUE(device.control("remove"));
        ASSERT_TRUE(station.waitForError(device.linkPath() + "  waiting", 10000))
            << station.soFar().err;
        ASSERT_TRUE(device.control("place boot"));
        // Killed in the middle of the second board's transfer, its serial taken.
        ASSERT_TRUE(station.waitForError("serial 1001", 20000)) << station.soFar().err;
        ASSERT_TRUE(device.waitForTranscript("boot rx data"));
        const CliOutcome killed = station.kill();
        EXPECT_EQ(killed.out, fileText(setup.logPath));  // every result shown is in the log
    }
    EXPECT_EQ(fileText(setup.serialPath), "1002\n");

    // Started again: the board still on the slot is a new unit with a new serial.
    CliProcess again(setup.arguments({device.linkPath()}, {"--json"}));
    ASSERT_TRUE(again.waitForError("PASS", 40000)) << again.soFar().err;
    again.interrupt();  // once, with nothing in flight: a clean end
    const CliOutcome run = again.finish(10000);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 2u) << fileText(setup.logPath);
    EXPECT_EQ(logged[0]["serial"], 1000);
    EXPECT_EQ(logged[1]["serial"], 1002);
    EXPECT_EQ(logged[1]["unit"], 2);
    EXPECT_EQ(fileText(setup.serialPath), "1003\n");
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

TEST(Station, CtrlCOnceStopsArmingTwiceAbortsTheBoardsInFlight) {
    StationSetup setup;
    setup.imagePath = setup.folder.write("large.bin", text(pattern(200000, 3)));
    DevsimProcess device({"--start", "boot", "--baud", "115200"}, 1);
    ASSERT_TRUE(device.started());
    CliProcess station(setup.arguments({device.linkPath()}, {}));
    ASSERT_TRUE(device.waitForTranscript("boot rx data", 20000));
    station.interrupt();
    ASSERT_TRUE(station.waitForError("stopping; Ctrl-C again aborts", 5000)) << station.soFar().err;
    station.interrupt();
    const CliOutcome run = station.finish(5000);
    EXPECT_EQ(run.status, 130) << run.err;
    const std::vector<Json> logged = records(setup.logPath);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0]["reason"], "interrupted");
}

}  // namespace
