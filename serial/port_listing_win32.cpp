// Windows: the devices of the Ports class from SetupAPI, with their friendly
// names, USB identity, location and the FTDI driver's latency timer; then the
// COM names the system maps that SetupAPI does not know (virtual ports, and
// every port under Wine). The registry is only read.
#include <windows.h>
// After windows.h:
#include <cfgmgr32.h>
#include <initguid.h>
// After initguid.h, which makes it define the class GUIDs:
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/system_text.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

// A text property of the device; for a list of texts (REG_MULTI_SZ), the first.
std::string deviceProperty(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer - 4,
                                           nullptr) ||
        (type != REG_SZ && type != REG_MULTI_SZ)) {
        return "";
    }
    return utf8FromWide(buffer);
}

std::string instanceId(DEVINST instance) {
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(instance, buffer, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return "";
    return utf8FromWide(buffer);
}

// The port's name and the FTDI driver's latency timer, from the device's
// parameters key, opened for reading only.
void readDeviceParameters(HDEVINFO set, SP_DEVINFO_DATA& device, ListedPort& port) {
    HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE) return;
    wchar_t name[64] = {};
    DWORD type = 0;
    DWORD size = sizeof name - sizeof name[0];
    if (RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        port.name = utf8FromWide(name);
    }
    DWORD latency = 0;
    size = sizeof latency;
    if (RegQueryValueExW(key, L"LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&latency),
                         &size) == ERROR_SUCCESS &&
        type == REG_DWORD) {
        port.latencyTimerMs = static_cast<int>(latency);
    }
    RegCloseKey(key);
}

// VID:PID and serial number from the instance id; an interface of a
// composite device (a CDC port) and FTDI's port child take what they lack
// from the USB device above them.
void readUsbIdentity(DEVINST instance, ListedPort& port) {
    const UsbInstanceId own = parseUsbInstanceId(instanceId(instance));
    port.usbId = own.usbId;
    port.serialNumber = own.serialNumber;
    if (own.usbId.empty() || !own.serialNumber.empty()) return;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, instance, 0) != CR_SUCCESS) return;
    const UsbInstanceId above = parseUsbInstanceId(instanceId(parent));
    if (above.usbId == own.usbId) port.serialNumber = above.serialNumber;
}

std::vector<ListedPort> portsClass() {
    std::vector<ListedPort> ports;
    HDEVINFO set = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return ports;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(set, index, &device); ++index) {
        ListedPort port;
        readDeviceParameters(set, device, port);
        std::int32_t number = 0;
        if (!comPortNumber(port.name, number)) continue;  // a printer port, or no name
        port.description =
            descriptionFromFriendlyName(deviceProperty(set, device, SPDRP_FRIENDLYNAME), port.name);
        readUsbIdentity(device.DevInst, port);
        port.location = deviceProperty(set, device, SPDRP_LOCATION_PATHS);
        if (port.location.empty()) {
            port.location = deviceProperty(set, device, SPDRP_LOCATION_INFORMATION);
        }
        ports.push_back(port);
    }
    SetupDiDestroyDeviceInfoList(set);
    return ports;
}

}  // namespace

std::vector<ListedPort> systemPortListing() {
    std::vector<ListedPort> ports = portsClass();
    for (const std::wstring& wide : enumeratePorts()) {
        const std::string name = utf8FromWide(wide);
        bool known = false;
        for (const ListedPort& port : ports) known = known || devicePortIdentity(port.name) == name;
        if (known) continue;
        ListedPort port;
        port.name = name;
        ports.push_back(port);
    }
    std::sort(ports.begin(), ports.end(), [](const ListedPort& a, const ListedPort& b) {
        std::int32_t first = 0;
        std::int32_t second = 0;
        comPortNumber(a.name, first);
        comPortNumber(b.name, second);
        return first < second;
    });
    return ports;
}

std::string latencyAdvice(const ListedPort& port) {
    return "Device Manager > Ports (COM & LPT) > the adapter's port (" + port.name +
           ") > Properties > Port Settings > Advanced > Latency Timer (msec): 1";
}
