// The serial ports present with what the system knows of their adapters, and
// port names that pick an adapter by its USB identity ("usb:SERIAL",
// "usb:VID:PID"). One listing per system: port_listing_linux.cpp
// (libserialport and sysfs), port_listing_win32.cpp (SetupAPI).
#pragma once

#include <string>
#include <vector>

struct ListedPort {
    std::string name;          // what --port takes: "COM5" on Windows, "/dev/ttyUSB0" on Linux
    std::string description;   // the friendly name on Windows, the product on Linux
    std::string usbId;         // "0403:6001" (lower-case hex), empty when not USB
    std::string serialNumber;  // the USB serial number, may be empty
    std::string location;      // hub path / location, may be empty
    int latencyTimerMs = -1;   // the adapter's latency timer; -1 where the system does not show it
};

// The serial ports present, without opening any of them.
std::vector<ListedPort> listPorts();

// Replaces the system's listing, for tests that play adapters coming and
// going; nullptr restores it.
using PortLister = std::vector<ListedPort> (*)();
void setPortListerForTests(PortLister lister);

// True for a name that picks an adapter by its USB identity: "usb:" (any
// letter case) and a selector.
bool isUsbPortName(const std::string& name);

// Resolves a port name: "usb:SERIAL" -> the adapter with that USB serial
// number; "usb:VID:PID" -> the only adapter with that VID:PID (hexadecimal);
// letter case does not count. Any other name is returned as is. Fails (false,
// with a message that lists the candidates for several matches, or says none
// matched) without opening anything.
bool resolvePortName(const std::string& name, const std::vector<ListedPort>& listing,
                     std::string& resolved, std::string& error);

// The entry of the adapter a name opens: a usb: name through its resolution,
// any other name by what it opens (portIdentity). nullptr when it is not listed.
const ListedPort* findListedPort(const std::string& name, const std::vector<ListedPort>& listing);

enum class PortNameCheck { Usable, NoMatch, SeveralMatches };
// Whether `name` can be opened as things stand, listing the ports for a usb:
// name only; `error` says why not.
PortNameCheck portNameCheck(const std::string& name, std::string& error);

// An adapter whose latency timer is above this holds each short reply of the
// boot loader back for that long.
constexpr int kHighestGoodLatencyMs = 2;
// One warning for an adapter whose latency timer reads above
// kHighestGoodLatencyMs, saying how to lower it on this system; empty otherwise.
std::string latencyWarning(const ListedPort& port);

// What a port name stood for when it was looked up: the device it opens (a
// usb: name resolved) and the adapter the listing knows behind it.
struct PortFacts {
    bool known = false;
    std::string device;  // empty when a usb: name resolved to nothing
    ListedPort adapter;
};

// Looks the port up in the listing now; while the port is open, Linux's
// low-latency mode shows in the adapter's timer.
PortFacts lookUpPort(const std::string& port);

// What a Windows device instance id tells of a USB device: "USB\VID_0403&PID_6001\A1B2C3D4";
// FTDI's "FTDIBUS\VID_0403+PID_6001+A1B2C3D4A\0000", whose serial number
// carries the channel letter; an interface of a composite device,
// "USB\VID_2E8A&PID_000A&MI_00\6&2B2A4F3&0&0000", whose serial number is its
// parent device's. Pure string work, so it is tested on every system.
struct UsbInstanceId {
    std::string usbId;                // "0403:6001", empty when the id names no USB device
    std::string serialNumber;         // empty when the id holds none (a generated instance)
    bool compositeInterface = false;  // a composite device's interface: ask the parent device
};
UsbInstanceId parseUsbInstanceId(const std::string& instanceId);

// The description of a port from SetupAPI's friendly name: "USB Serial Port
// (COM5)" is "USB Serial Port" for COM5.
std::string descriptionFromFriendlyName(const std::string& friendlyName,
                                        const std::string& portName);
