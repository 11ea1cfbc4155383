// The listing's pure parts, natively and under Wine: usb: names resolved over
// a listing table, the latency warning, and the reading of SetupAPI's strings
// captured from real adapters.
#include "serial/port_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

ListedPort adapter(const std::string& name, const std::string& usbId, const std::string& serial,
                   const std::string& location = "") {
    ListedPort port;
    port.name = name;
    port.usbId = usbId;
    port.serialNumber = serial;
    port.location = location;
    return port;
}

struct Resolution {
    bool ok;
    std::string resolved;
    std::string error;
};

Resolution resolve(const std::string& name, const std::vector<ListedPort>& listing) {
    Resolution result;
    result.ok = resolvePortName(name, listing, result.resolved, result.error);
    return result;
}

const std::vector<ListedPort> kBench{
    adapter("COM1", "", ""),
    adapter("/dev/ttyUSB0", "0403:6001", "A1B2C3D4", "1-2:1.0"),
    adapter("/dev/ttyUSB1", "0403:6001", "FT9X8Y7Z", "1-3:1.0"),
    adapter("/dev/ttyUSB2", "10c4:ea60", "0001"),
    adapter("/dev/ttyACM0", "2e8a:000a", "E660583883724A2E"),
};

TEST(PortNameResolution, OneMatchNoneOrSeveral) {
    // One match, by serial number or by VID:PID, in any letter case.
    for (const auto& [name, device] : std::vector<std::pair<std::string, std::string>>{
             {"usb:A1B2C3D4", "/dev/ttyUSB0"},
             {"USB:a1b2c3d4", "/dev/ttyUSB0"},
             {"usb:10C4:EA60", "/dev/ttyUSB2"},
             {"usb:2e8a:000a", "/dev/ttyACM0"},
             {"usb:0001", "/dev/ttyUSB2"},
             {"COM7", "COM7"},                  // other names are taken as they are
             {"/dev/ttyUSB9", "/dev/ttyUSB9"},  // even when absent
         }) {
        const Resolution result = resolve(name, kBench);
        EXPECT_TRUE(result.ok) << name << ": " << result.error;
        EXPECT_EQ(result.resolved, device) << name;
    }

    // None: a serial number or VID:PID that no adapter has, or a port without USB facts.
    for (const std::string name : {"usb:A1B2C3", "usb:0403:6010", "usb:COM1"}) {
        const Resolution result = resolve(name, kBench);
        EXPECT_FALSE(result.ok) << name;
        EXPECT_TRUE(result.resolved.empty()) << name;
        EXPECT_NE(result.error.find("no USB adapter"), std::string::npos) << result.error;
    }
    EXPECT_FALSE(resolve("usb:A1B2C3D4", {}).ok);

    // Several: a usage error that lists every candidate, so that one can be picked.
    const Resolution several = resolve("usb:0403:6001", kBench);
    EXPECT_FALSE(several.ok);
    for (const char* part : {"2 adapters", "/dev/ttyUSB0", "A1B2C3D4", "1-2:1.0", "/dev/ttyUSB1",
                             "FT9X8Y7Z", "usb:SERIAL"}) {
        EXPECT_NE(several.error.find(part), std::string::npos) << several.error;
    }
    EXPECT_EQ(several.error.find("/dev/ttyUSB2"), std::string::npos) << several.error;
    // Two channels of one chip share its serial number.
    const Resolution channels = resolve("usb:FT4444", {adapter("COM3", "0403:6010", "FT4444"),
                                                       adapter("COM4", "0403:6010", "FT4444")});
    EXPECT_FALSE(channels.ok);
    EXPECT_NE(channels.error.find("COM3"), std::string::npos) << channels.error;
}

TEST(PortNameResolution, FollowsAnAdapterThatCameBackUnderAnotherName) {
    std::vector<ListedPort> listing = kBench;
    EXPECT_EQ(resolve("usb:A1B2C3D4", listing).resolved, "/dev/ttyUSB0");
    // Re-enumerated after the boot switch: the serial number is now on ttyUSB3.
    listing[1].name = "/dev/ttyUSB3";
    EXPECT_EQ(resolve("usb:A1B2C3D4", listing).resolved, "/dev/ttyUSB3");
    const ListedPort* found = findListedPort("usb:A1B2C3D4", listing);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "/dev/ttyUSB3");
    EXPECT_EQ(findListedPort("usb:0403:6001", listing), nullptr);  // ambiguous: none
}

TEST(LatencyWarning, OnlyAboveTwoMillisecondsAndSaysHowToLowerIt) {
    ListedPort port = adapter("COM5", "0403:6001", "A1B2C3D4");
    for (int quiet : {-1, 0, 1, 2}) {
        port.latencyTimerMs = quiet;
        EXPECT_EQ(latencyWarning(port), "") << quiet;
    }
    port.latencyTimerMs = 16;
    const std::string warning = latencyWarning(port);
    EXPECT_NE(warning.find("16 ms"), std::string::npos) << warning;
    EXPECT_NE(warning.find("set it to 1 ms: "), std::string::npos) << warning;
}

TEST(WindowsDeviceStrings, InstanceIdsGiveVidPidAndSerialNumber) {
    struct Case {
        const char* instanceId;
        const char* usbId;
        const char* serial;
        bool compositeInterface;
    };
    const Case cases[] = {
        // FTDI's bus driver: its serial number with the channel letter appended.
        {"FTDIBUS\\VID_0403+PID_6001+A1B2C3D4A\\0000", "0403:6001", "A1B2C3D4", false},
        {"FTDIBUS\\VID_0403+PID_6010+FT4444B\\0000", "0403:6010", "FT4444", false},
        {"FTDIBUS\\VID_0403+PID_6001+5&2F8A1C3B&0&2\\0000", "0403:6001", "", false},
        // A plain USB device: CP210x with its serial number, CH340 without one.
        {"USB\\VID_10C4&PID_EA60\\0001", "10c4:ea60", "0001", false},
        {"USB\\VID_1A86&PID_7523\\5&1A2B3C4D&0&2", "1a86:7523", "", false},
        // A CDC port: an interface of a composite device; the serial number is the parent's.
        {"USB\\VID_2E8A&PID_000A&MI_00\\6&2B2A4F3&0&0000", "2e8a:000a", "", true},
        {"usb\\vid_2e8a&pid_000a\\E660583883724A2E", "2e8a:000a", "E660583883724A2E", false},
        // Not USB, or not a well-formed id.
        {"ACPI\\PNP0501\\1", "", "", false},
        {"USB\\VID_04&PID_6001\\X", "", "", false},
        {"", "", "", false},
    };
    for (const Case& c : cases) {
        const UsbInstanceId parsed = parseUsbInstanceId(c.instanceId);
        EXPECT_EQ(parsed.usbId, c.usbId) << c.instanceId;
        EXPECT_EQ(parsed.serialNumber, c.serial) << c.instanceId;
        EXPECT_EQ(parsed.compositeInterface, c.compositeInterface) << c.instanceId;
    }

    EXPECT_EQ(descriptionFromFriendlyName("USB Serial Port (COM5)", "COM5"), "USB Serial Port");
    EXPECT_EQ(
        descriptionFromFriendlyName("Silicon Labs CP210x USB to UART Bridge (COM12)", "COM12"),
        "Silicon Labs CP210x USB to UART Bridge");
    EXPECT_EQ(descriptionFromFriendlyName("USB Serial Device (COM15)", "COM1"),
              "USB Serial Device (COM15)");
    EXPECT_EQ(descriptionFromFriendlyName("", "COM5"), "");
}

}  // namespace
