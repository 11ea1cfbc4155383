// The port layer's names alone: the COM ports on Windows, the comN links of
// QUORVEL_PORT_DIR on POSIX.
#include "capi/port_list.h"

#include "serial/serial_port.h"

std::vector<PortEntry> presentPorts() {
    std::vector<PortEntry> entries;
    for (const std::wstring& name : enumeratePorts()) {
        PortEntry entry;
        for (wchar_t c : name) entry.name += static_cast<char>(c < 0x80 ? c : '?');
        entries.push_back(entry);
    }
    return entries;
}
