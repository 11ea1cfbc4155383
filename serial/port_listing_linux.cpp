// Linux: the serial devices libserialport finds, with the USB interface they
// sit on and the latency timer from sysfs, and the COM port links of
// QUORVEL_PORT_DIR.
#include <libserialport.h>
#include <limits.h>
#include <stdlib.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

bool isSerialDeviceName(const std::string& name) {
    for (const char* prefix : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

std::string textOf(const char* text) { return text != nullptr ? text : ""; }

// The tty's device folder in sysfs, links resolved: for an adapter something
// like /sys/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB0.
std::string sysfsDevice(const std::string& deviceName) {
    const std::string base = deviceName.substr(deviceName.rfind('/') + 1);
    char resolved[PATH_MAX];
    const std::string link = "/sys/class/tty/" + base + "/device";
    return realpath(link.c_str(), resolved) != nullptr ? resolved : "";
}

// "1-2.4:1.0" names a USB interface by bus, hub ports and configuration.interface.
bool isUsbInterfaceName(const std::string& part) {
    const std::size_t dash = part.find('-');
    const std::size_t colon = part.find(':');
    if (dash == 0 || dash == std::string::npos || colon == std::string::npos || colon < dash) {
        return false;
    }
    for (char c : part) {
        if (std::isdigit(static_cast<unsigned char>(c)) == 0 && c != '-' && c != '.' && c != ':') {
            return false;
        }
    }
    return true;
}

// The USB interface the tty sits on, "1-2.4:1.0": which hub port, and which
// channel of a several-port adapter. Empty when the tty is not on USB.
std::string usbLocation(const std::string& devicePath) {
    std::string location;
    std::size_t start = 0;
    while (start < devicePath.size()) {
        std::size_t end = devicePath.find('/', start);
        if (end == std::string::npos) end = devicePath.size();
        const std::string part = devicePath.substr(start, end - start);
        if (isUsbInterfaceName(part)) location = part;
        start = end + 1;
    }
    return location;
}

// The usb-serial driver's latency_timer (ftdi_sio has one); -1 without it.
int latencyTimer(const std::string& devicePath) {
    std::ifstream file(devicePath + "/latency_timer");
    int value = -1;
    if (!(file >> value)) return -1;
    return value;
}

}  // namespace

std::vector<ListedPort> systemPortListing() {
    std::vector<ListedPort> ports;
    if (const char* folder = std::getenv("QUORVEL_PORT_DIR")) {
        for (const std::wstring& name : enumeratePorts()) {
            ListedPort port;
            port.name.assign(name.begin(), name.end());
            port.description = "link in " + std::string(folder);
            ports.push_back(port);
        }
    }

    sp_port** found = nullptr;
    if (sp_list_ports(&found) != SP_OK) return ports;
    for (sp_port** entry = found; *entry != nullptr; ++entry) {
        ListedPort port;
        port.name = textOf(sp_get_port_name(*entry));
        if (!isSerialDeviceName(port.name)) continue;
        port.description = textOf(sp_get_port_description(*entry));
        if (sp_get_port_transport(*entry) == SP_TRANSPORT_USB) {
            int vendor = 0;
            int product = 0;
            if (sp_get_port_usb_vid_pid(*entry, &vendor, &product) == SP_OK) {
                char id[16];
                std::snprintf(id, sizeof id, "%04x:%04x", vendor & 0xFFFF, product & 0xFFFF);
                port.usbId = id;
            }
            port.serialNumber = textOf(sp_get_port_usb_serial(*entry));
            const std::string device = sysfsDevice(port.name);
            port.location = usbLocation(device);
            port.latencyTimerMs = latencyTimer(device);
        }
        ports.push_back(port);
    }
    sp_free_port_list(found);
    return ports;
}

std::string latencyAdvice(const ListedPort& port) {
    const std::string base = port.name.substr(port.name.rfind('/') + 1);
    std::string advice = "echo 1 | sudo tee /sys/bus/usb-serial/devices/" + base +
                         "/latency_timer (until the adapter is unplugged)";
    if (!port.usbId.empty()) {
        const std::string vendor = port.usbId.substr(0, 4);
        const std::string product = port.usbId.substr(5);
        advice +=
            ", or for good a udev rule, e.g. in /etc/udev/rules.d/99-quorvel-latency.rules: "
            "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
            "ATTRS{idVendor}==\"" +
            vendor + "\", ATTRS{idProduct}==\"" + product + "\", ATTR{latency_timer}=\"1\"";
    }
    return advice;
}
