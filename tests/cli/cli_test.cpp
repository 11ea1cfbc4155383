// quorvel-cli end to end against simulated devices: images land in flash,
// several ports run at once, each exit status comes from its cause, the JSON
// document holds its keys, and Ctrl-C frees every port.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "serial/serial_port.h"
#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"
#include "tests/support/intel_hex_record.h"

namespace {

using Json = nlohmann::json;

// Generous: a device in its application takes about 16 s (two unanswered
// boot-loader queries, the switch pause, the settling pause).
constexpr int kFlashLimitMs = 60000;

std::string hexRecord(std::uint8_t type, std::uint16_t offset, const Bytes& data) {
    return intelHexRecord(type, offset, data) + "\r\n";
}

// Data records of 16 bytes for `data` at `offset` within the current 64 KiB base.
std::string hexData(std::uint16_t offset, const Bytes& data) {
    std::string lines;
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - at);
        lines += hexRecord(0, static_cast<std::uint16_t>(offset + at),
                           Bytes(data.begin() + static_cast<long>(at),
                                 data.begin() + static_cast<long>(at + count)));
    }
    return lines;
}

const Json* portEntry(const Json& document, std::size_t index) {
    if (!document.contains("ports") || document["ports"].size() <= index) return nullptr;
    return &document["ports"][index];
}

TEST(CliFlash, GangOfFourWhereOneRefusesPacketThree) {
    // One device runs its application ("bl-": re-detected after the download).
    DevsimProcess app({"--app-version", "bl-2.0", "--boot-delay", "50"}, 1);
    DevsimProcess boot({"--start", "boot", "--boot-version", "0x01020304"}, 2);
    DevsimProcess refusing({"--start", "boot", "--fault", "data-status=2@3"}, 3);
    DevsimProcess other({"--start", "boot"}, 4);
    ASSERT_TRUE(app.started() && boot.started() && refusing.started() && other.started());
    TempFolder folder;
    const Bytes image = pattern(5000, 7);
    const std::string imagePath = folder.write("image.bin", text(image));

    const CliOutcome run = runCli(
        {"flash", "--json", "--no-progress", "--port", app.linkPath() + "," + boot.linkPath(),
         "--port", refusing.linkPath(), "--port", other.linkPath(), imagePath},
        kFlashLimitMs);
    EXPECT_EQ(run.status, 1) << run.err;

    const Json document = Json::parse(run.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.out;
    for (const char* key : {"path", "format", "bytes", "blocks"}) {
        EXPECT_TRUE(document["image"].contains(key)) << key;
    }
    EXPECT_EQ(document["image"]["bytes"], 5000);
    ASSERT_EQ(document["ports"].size(), 4u);
    for (const Json& port : document["ports"]) {
        for (const char* key : {"port", "ok", "code", "message", "device_before", "device_after",
                                "bytes", "seconds", "bytes_per_second"}) {
            EXPECT_TRUE(port.contains(key)) << key;
        }
    }
    const Json& first = *portEntry(document, 0);
    EXPECT_EQ(first["port"], app.linkPath());
    EXPECT_EQ(first["device"], app.linkPath());
    EXPECT_FALSE(first.contains("usb_id")) << "only for usb: names";
    EXPECT_EQ(first["ok"], true);
    EXPECT_EQ(first["device_before"], "app bl-2.0");
    EXPECT_EQ(first["device_after"], "boot v2.4.10.15");
    const Json& refused = *portEntry(document, 2);
    EXPECT_EQ(refused["ok"], false);
    EXPECT_EQ(refused["code"], -9978);
    EXPECT_EQ(refused["message"], "Communication Error \n-9978");
    EXPECT_EQ(refused["bytes"], 2 * 236);
    for (std::size_t index : {0u, 1u, 3u}) {
        EXPECT_EQ((*portEntry(document, index))["code"], 0);
        EXPECT_EQ((*portEntry(document, index))["bytes"], 5000);
    }

    for (DevsimProcess* device : {&app, &boot, &other}) {
        device->stop();
        EXPECT_EQ(device->flash(), image) << device->linkPath();
    }
    refusing.stop();
    EXPECT_NE(refusing.flash(), image);
    // Plain progress at every 10 %, and the log of a successful download.
    EXPECT_NE(run.err.find(boot.linkPath() + "  100%  5000/5000 bytes"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(app.linkPath() + ": detecting the device again"), std::string::npos);
    EXPECT_NE(run.err.find(other.linkPath() + ": finished."), std::string::npos);
}

TEST(CliFlash, HexImageLandsInFlashByComPortName) {
    DevsimProcess device({"--start", "boot"}, 5);  // QUORVEL_PORT_DIR now names its folder
    ASSERT_TRUE(device.started());
    TempFolder folder;
    // Two runs with a gap between them, reached through both address record kinds.
    const Bytes low = pattern(600, 11);
    const Bytes high = pattern(100, 12);
    const std::string hex = hexRecord(2, 0, {0xFF, 0xFF}) + hexData(0x8010, low) +
                            hexRecord(4, 0, {0x00, 0x10}) + hexData(0x8400, high) +
                            hexRecord(5, 0, {0, 0x10, 0x80, 0}) + hexRecord(1, 0, {});
    const std::string imagePath = folder.write("image.HEX", hex);

    const CliOutcome run = runCli({"flash", "--port", "COM5", imagePath}, kFlashLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    // One block over the span, the gap sent as erased flash.
    EXPECT_EQ(run.out.rfind("COM5: ok, 1124 bytes", 0), 0u) << run.out;

    Bytes expected(0x400 + high.size(), 0xFF);
    std::copy(low.begin(), low.end(), expected.begin());
    std::copy(high.begin(), high.end(), expected.begin() + 0x400);
    device.stop();
    EXPECT_EQ(device.flash(), expected);
}

TEST(CliExitStatus, CommandLineAndUnusableImagesSendNothing) {
    DevsimProcess device({"--start", "boot"}, 5);
    ASSERT_TRUE(device.started());
    TempFolder folder;
    const std::string good = folder.write("good.bin", text(pattern(100, 1)));

    EXPECT_EQ(runCli({}).status, 2);
    EXPECT_EQ(runCli({"flash", good}).status, 2);              // no port
    EXPECT_EQ(runCli({"flash", "--port", "COM5"}).status, 2);  // no image
    EXPECT_EQ(runCli({"flash", "--port", "COM5", "--speed", "9", good}).status, 2);
    EXPECT_EQ(runCli({"flash", "--port", "COM5,COM5", good}).status, 2);
    // One port under two names would be driven by two threads.
    const CliOutcome twoNames =
        runCli({"flash", "--json", "--port", "com05", "--port", device.linkPath(), good});
    EXPECT_EQ(twoNames.status, 2);
    EXPECT_NE(twoNames.err.find("the same port as com05"), std::string::npos) << twoNames.err;
    EXPECT_EQ(runCli({"--help"}).status, 0);
    const CliOutcome version = runCli({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("quorvel-cli ", 0), 0u);

    const CliOutcome missing =
        runCli({"flash", "--port", "COM5", folder.write("x", "") + "-gone.bin"});
    EXPECT_EQ(missing.status, 3);
    const CliOutcome large =
        runCli({"flash", "--port", "COM5", folder.write("large.bin", std::string(212993, 'x'))});
    EXPECT_EQ(large.status, 3);
    EXPECT_NE(large.err.find("Incompatible File"), std::string::npos) << large.err;

    std::string badLine = hexRecord(0, 0x8010, {1, 2, 3});
    badLine[badLine.size() - 3] ^= 1;  // spoil the checksum
    const std::string badHex =
        hexRecord(4, 0, {0x00, 0x10}) + hexRecord(0, 0x8000, {9}) + badLine + hexRecord(1, 0, {});
    const CliOutcome bad =
        runCli({"flash", "--json", "--port", "COM5", folder.write("bad.hex", badHex)});
    EXPECT_EQ(bad.status, 3);
    EXPECT_NE(bad.err.find("line 3: bad checksum"), std::string::npos) << bad.err;
    const Json document = Json::parse(bad.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << bad.out;
    EXPECT_EQ(document["image"]["error"], "line 3: bad checksum");
    EXPECT_TRUE(document["ports"].empty());

    // Nothing to write: an empty binary, or HEX (under another name) with only its end record.
    EXPECT_EQ(runCli({"flash", "--port", "COM5", folder.write("empty.bin", "")}).status, 3);
    const CliOutcome endOnly =
        runCli({"flash", "--port", "COM5", folder.write("fw.ihx", hexRecord(1, 0, {}))});
    EXPECT_EQ(endOnly.status, 3);
    EXPECT_NE(endOnly.err.find("the image holds no bytes"), std::string::npos) << endOnly.err;

    const std::string outside =
        hexRecord(4, 0, {0x00, 0x10}) + hexRecord(0, 0x7FFF, {1, 2}) + hexRecord(1, 0, {});
    const CliOutcome refused =
        runCli({"flash", "--port", "COM5", folder.write("out.hex", outside)});
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("line 2:"), std::string::npos) << refused.err;

    EXPECT_EQ(device.transcript().find(" rx "), std::string::npos) << device.transcript();
}

TEST(CliExitStatus, UsageErrorsGiveJsonAndComNamesNeedThePortFolder) {
    // Scripts that read only standard output get a JSON document for a wrong command line.
    const std::vector<std::vector<std::string>> wrong{
        {"flash", "--json", "--port", "/dev/ttyUSB9", "--speed", "9", "image.bin"},
        {"flash", "--json", "--port", "/dev/ttyUSB9,/dev/ttyUSB9", "image.bin"},
        {"info", "--json"}};
    for (const std::vector<std::string>& arguments : wrong) {
        const CliOutcome run = runCli(arguments);
        EXPECT_EQ(run.status, 2) << ::testing::PrintToString(arguments);
        const Json document = Json::parse(run.out, nullptr, false);
        ASSERT_FALSE(document.is_discarded()) << run.out;
        EXPECT_EQ(document["status"], 2);
        EXPECT_FALSE(document.value("error", "").empty()) << run.out;
    }

    // COMn names a link in QUORVEL_PORT_DIR: without it, a usage error before
    // any port is opened or the (absent) image is read.
    unsetenv("QUORVEL_PORT_DIR");
    const CliOutcome info = runCli({"info", "--port", "com5"});
    EXPECT_EQ(info.status, 2);
    EXPECT_TRUE(info.out.empty()) << info.out;
    for (const char* part : {"com5", "QUORVEL_PORT_DIR", "/dev/ttyUSB0"}) {
        EXPECT_NE(info.err.find(part), std::string::npos) << info.err;
    }
    const CliOutcome flash =
        runCli({"flash", "--json", "--port", "/dev/ttyUSB9", "--port", "COM7", "gone.bin"});
    EXPECT_EQ(flash.status, 2);
    const Json document = Json::parse(flash.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << flash.out;
    EXPECT_NE(document.value("error", "").find("COM7 means the link com7"), std::string::npos);
}

TEST(CliExitStatus, RefusedSwitchPortInUseAbsentPortAndSilentDeviceAtOnce) {
    DevsimProcess refusing({"--fault", "refuse-boot"}, 1);
    DevsimProcess held({"--start", "boot"}, 2);
    DevsimProcess silent({"--fault", "silent"}, 3);
    ASSERT_TRUE(refusing.started() && held.started() && silent.started());
    SerialPort* holder = createPortAtPath(held.linkPath());
    ASSERT_NE(holder->handle, kInvalidPortHandle);
    TempFolder folder;
    const std::string imagePath = folder.write("image.bin", text(pattern(1000, 3)));
    const std::string absent = "/dev/quorvel-no-such-port";

    // The status is the first failed port's, in the order given.
    const CliOutcome gang =
        runCli({"flash", "--json", "--no-progress", "--port", refusing.linkPath(), "--port",
                held.linkPath(), "--port", absent, "--port", silent.linkPath(), imagePath},
               kFlashLimitMs);
    EXPECT_EQ(gang.status, 1) << gang.err;
    const Json document = Json::parse(gang.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << gang.out;
    ASSERT_EQ(document["ports"].size(), 4u);
    const std::vector<int> statuses{1, 4, 4, 4};
    for (std::size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(document["ports"][i]["status"], statuses[i]) << i;
        EXPECT_EQ(document["ports"][i]["ok"], false) << i;
    }
    EXPECT_EQ(document["ports"][0]["message"], "check cable.\n");
    EXPECT_EQ(document["ports"][0]["device_before"], "app 1.2.3");
    const std::string heldDetail = document["ports"][1]["detail"];
    EXPECT_NE(heldDetail.find("in use"), std::string::npos) << heldDetail;
    EXPECT_EQ(document["ports"][3]["message"], "The comport is wrong or the device is off. \n");
    EXPECT_EQ(held.transcript().find(" rx "), std::string::npos);

    const CliOutcome alone = runCli({"flash", "--port", held.linkPath(), imagePath});
    EXPECT_EQ(alone.status, 4);
    EXPECT_NE(alone.out.find("in use by another program"), std::string::npos) << alone.out;
    closePort(holder);
}

TEST(CliInterrupt, CtrlCStopsEveryPortAndLeavesThemFree) {
    const std::vector<std::string> paced{"--start", "boot", "--baud", "115200"};
    DevsimProcess first(paced, 1);
    DevsimProcess second(paced, 2);
    ASSERT_TRUE(first.started() && second.started());
    TempFolder folder;
    const std::string imagePath = folder.write("image.bin", text(pattern(212992, 5)));

    CliProcess cli({"flash", "--no-progress", "--port", first.linkPath(), "--port",
                    second.linkPath(), imagePath});
    ASSERT_TRUE(cli.waitForError(first.linkPath() + "   10%", 20000));
    ASSERT_TRUE(cli.waitForError(second.linkPath() + "   10%", 5000));
    cli.interrupt();
    const CliOutcome run = cli.finish(10000);
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_NE(run.err.find("not finished: " + first.linkPath() + ", " + second.linkPath()),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.out.find(second.linkPath() + ": interrupted"), std::string::npos) << run.out;
    for (DevsimProcess* device : {&first, &second}) {
        SerialPort* port = createPortAtPath(device->linkPath());
        EXPECT_NE(port->handle, kInvalidPortHandle) << device->linkPath();
        closePort(port);
    }
}

TEST(CliInterrupt, CtrlCAfterTheLastAcknowledgementLeavesTheDeviceReportedWritten) {
    DevsimProcess device({"--start", "boot"}, 1);
    ASSERT_TRUE(device.started());
    TempFolder folder;
    const Bytes image = pattern(3000, 9);
    const std::string imagePath = folder.write("image.bin", text(image));

    CliProcess cli({"flash", "--json", "--no-progress", "--port", device.linkPath(), imagePath});
    ASSERT_TRUE(cli.waitForError("download completed", 20000));
    cli.interrupt();  // during the 7 s pause: ends at once, yet the image is written
    const CliOutcome run = cli.finish(3000);
    EXPECT_EQ(run.status, 130) << run.err;
    const Json document = Json::parse(run.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << run.out;
    const Json& port = document["ports"][0];
    EXPECT_EQ(port["ok"], true);
    EXPECT_EQ(port["code"], 0);
    EXPECT_NE(port["detail"].get<std::string>().find("cut short"), std::string::npos) << port;
    EXPECT_NE(run.err.find("not finished: none"), std::string::npos) << run.err;
    device.stop();
    EXPECT_EQ(device.flash(), image);
}

TEST(CliInfo, BootLoaderApplicationAndPortList) {
    DevsimProcess app({"--app-version", "fw-3.1"}, 1);
    DevsimProcess boot({"--start", "boot", "--boot-version", "0x01020304"}, 6);
    ASSERT_TRUE(app.started() && boot.started());

    const CliOutcome bootInfo = runCli({"info", "--port", "COM6"});
    EXPECT_EQ(bootInfo.status, 0);
    EXPECT_EQ(bootInfo.out, "boot v1.2.3.4\n");

    const CliOutcome appInfo = runCli({"info", "--json", "--port", app.linkPath()});
    EXPECT_EQ(appInfo.status, 0) << appInfo.err;
    const Json info = Json::parse(appInfo.out, nullptr, false);
    ASSERT_FALSE(info.is_discarded()) << appInfo.out;
    EXPECT_EQ(info["device"], "app fw-3.1");
    EXPECT_EQ(info["version_text"], "fw-3.1\r\n");

    const CliOutcome none = runCli({"info", "--port", "/dev/quorvel-no-such-port"});
    EXPECT_EQ(none.status, 4);
    EXPECT_EQ(none.out, "no device\n");

    const CliOutcome ports = runCli({"ports", "--json"});
    EXPECT_EQ(ports.status, 0);
    const Json listed = Json::parse(ports.out, nullptr, false);
    ASSERT_FALSE(listed.is_discarded()) << ports.out;
    bool com6 = false;
    for (const Json& port : listed["ports"]) {
        com6 = com6 || port["port"] == "COM6";
        // The same keys on every system; the latency timer is null where it is not shown.
        std::vector<std::string> keys;  // in alphabetical order
        for (const auto& item : port.items()) keys.push_back(item.key());
        EXPECT_EQ(keys, (std::vector<std::string>{"description", "latency_timer_ms", "location",
                                                  "port", "serial_number", "usb_id"}));
        EXPECT_TRUE(port["latency_timer_ms"].is_null() || port["latency_timer_ms"].is_number());
    }
    EXPECT_TRUE(com6) << ports.out;
}

TEST(CliUsbNames, AnAdapterThatIsNotPresentIsAnAbsentPort) {
    const CliOutcome info = runCli({"info", "--port", "usb:QUORVEL-NO-SUCH-ADAPTER"});
    EXPECT_EQ(info.status, 4);
    EXPECT_NE(info.err.find("no USB adapter with the serial number QUORVEL-NO-SUCH-ADAPTER"),
              std::string::npos)
        << info.err;

    TempFolder folder;
    const std::string imagePath = folder.write("image.bin", text(pattern(1000, 4)));
    const CliOutcome flash =
        runCli({"flash", "--json", "--port", "usb:0000:0001", imagePath}, kFlashLimitMs);
    EXPECT_EQ(flash.status, 4) << flash.err;
    EXPECT_NE(flash.err.find("no USB adapter with VID:PID 0000:0001"), std::string::npos)
        << flash.err;
    const Json document = Json::parse(flash.out, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << flash.out;
    const Json* port = portEntry(document, 0);
    ASSERT_NE(port, nullptr) << flash.out;
    EXPECT_EQ((*port)["port"], "usb:0000:0001");
    EXPECT_TRUE((*port)["device"].is_null());
    EXPECT_EQ((*port)["usb_id"], "");
    EXPECT_EQ((*port)["serial_number"], "");
    EXPECT_EQ((*port)["status"], 4);
}

}  // namespace
