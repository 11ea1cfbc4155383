// The parts of the port layer that are the same on every operating system.
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>

#include "platform/platform.h"
#include "platform/system_text.h"
#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

void traceFailedOpen(const std::string& name, int error) {
    const std::string line = "Open : " + name + " failed, error " + std::to_string(error) + " (" +
                             systemErrorText(static_cast<unsigned long>(error)) + ")\n";
    debugOutput(std::wstring(line.begin(), line.end()));
}

SerialPort* newPortRecord() {
    auto* port = new SerialPort;
    port->inputQueueSize = kInputQueueSize;
    port->outputQueueSize = kOutputQueueSize;
    return port;
}

// A new record opened the way an earlier one was: by name, by path, or by number.
SerialPort* createPortLike(const std::string& name, const std::string& path,
                           std::int32_t portNumber) {
    if (!name.empty()) return createPortNamed(name);
    return path.empty() ? createPort(portNumber) : createPortAtPath(path);
}

SerialPort* createPortForDevice(const std::string& device) {
    std::int32_t number = 0;
    return comPortNumber(device, number) ? createPort(number) : createPortAtPath(device);
}

// A usb: name resolved in the listing of this moment: a port that came back
// under another name is found again. One that resolves to no adapter, or to
// several, fails as an absent port would.
SerialPort* createPortByIdentity(const std::string& name) {
    const std::vector<ListedPort> listing = listPorts();
    std::string device;
    std::string error;
    if (!resolvePortName(name, listing, device, error)) {
        SerialPort* port = newPortRecord();
        port->openError = absentPortError();
        const std::string line = "Open : " + name + " failed: " + error + "\n";
        debugOutput(std::wstring(line.begin(), line.end()));
        return port;
    }
    SerialPort* port = createPortForDevice(device);
    if (const ListedPort* adapter = findListedPort(device, listing)) port->adapter = *adapter;
    return port;
}

}  // namespace

SerialPort* createPort(std::int32_t portNumber) {
    SerialPort* port = newPortRecord();
    port->portNumber = portNumber;
    port->handle = openPort(port, portNumber);
    if (port->handle == kInvalidPortHandle) {
        traceFailedOpen("COM" + std::to_string(portNumber), port->openError);
    }
    return port;
}

SerialPort* createPortAtPath(const std::string& path) {
    SerialPort* port = newPortRecord();
    port->path = path;
    port->handle = openPortAtPath(port, path);
    if (port->handle == kInvalidPortHandle) traceFailedOpen(path, port->openError);
    return port;
}

bool comPortNumber(const std::string& name, std::int32_t& number) {
    const bool comPrefix = name.size() > 3 &&
                           std::toupper(static_cast<unsigned char>(name[0])) == 'C' &&
                           std::toupper(static_cast<unsigned char>(name[1])) == 'O' &&
                           std::toupper(static_cast<unsigned char>(name[2])) == 'M';
    bool digitsOnly = comPrefix && name.size() <= 3 + 9;  // stays within 32 bits
    for (std::size_t i = 3; digitsOnly && i < name.size(); ++i) {
        digitsOnly = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
    }
    if (digitsOnly) number = static_cast<std::int32_t>(std::atol(name.c_str() + 3));
    return digitsOnly;
}

SerialPort* createPortNamed(const std::string& name) {
    SerialPort* port = isUsbPortName(name) ? createPortByIdentity(name) : createPortForDevice(name);
    port->name = name;
    return port;
}

std::string portIdentity(const std::string& name) {
    if (!isUsbPortName(name)) return devicePortIdentity(name);
    std::string device;
    std::string error;
    if (resolvePortName(name, listPorts(), device, error)) return devicePortIdentity(device);
    // Resolves to nothing now: the selector stands for itself, in any letter case.
    std::string identity = name;
    for (char& c : identity) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return identity;
}

SerialPort* reopenPort(SerialPort* port, const std::atomic<bool>* stop) {
    const std::string name = port->name;
    const std::string path = port->path;
    const std::int32_t portNumber = port->portNumber;
    closePort(port);
    // The device may be restarting and its port absent for a while: try again
    // with a short pause, then give up so the caller can report it.
    const std::uint32_t start = tickCount();
    SerialPort* fresh = createPortLike(name, path, portNumber);
    while (fresh->handle == kInvalidPortHandle && ticksSince(start) < kReopenLimitMs &&
           (stop == nullptr || !stop->load())) {
        closePort(fresh);
        sleepMilliseconds(kReopenPauseMs);
        fresh = createPortLike(name, path, portNumber);
    }
    return fresh;
}

std::string repeatedPortProblem(const std::vector<std::string>& ports) {
    std::map<std::string, std::string> opened;
    for (const std::string& port : ports) {
        const auto [entry, fresh] = opened.emplace(portIdentity(port), port);
        if (fresh) continue;
        const std::string same =
            entry->second == port ? "" : " (the same port as " + entry->second + ")";
        return "port " + port + " given twice" + same;
    }
    return std::string();
}
