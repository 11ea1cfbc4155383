// Linux: the serial devices libserialport finds, with what the system knows
// about them, and the COM port links of QUORVEL_PORT_DIR.
#include <libserialport.h>

#include <cstdio>
#include <cstdlib>

#include "cli/system.h"
#include "serial/serial_port.h"

namespace {

bool isSerialDeviceName(const std::string& name) {
    for (const char* prefix : {"/dev/ttyUSB", "/dev/ttyACM", "/dev/ttyS"}) {
        if (name.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

std::string textOf(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

std::vector<ListedPort> listSerialPorts() {
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
        }
        ports.push_back(port);
    }
    sp_free_port_list(found);
    return ports;
}
