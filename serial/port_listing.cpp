// The parts of the port listing that are the same on every system: the
// usb: names, the latency warning, and the reading of Windows' device ids.
#include "serial/port_listing.h"

#include <atomic>
#include <cctype>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

constexpr const char* kUsbPrefix = "usb:";
constexpr std::size_t kUsbPrefixLength = 4;

std::atomic<PortLister> testLister{nullptr};

std::string lowerCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool sameText(const std::string& a, const std::string& b) { return lowerCase(a) == lowerCase(b); }

bool isHexDigits(const std::string& text, std::size_t at, std::size_t count) {
    if (text.size() < at + count) return false;
    for (std::size_t i = at; i < at + count; ++i) {
        if (std::isxdigit(static_cast<unsigned char>(text[i])) == 0) return false;
    }
    return true;
}

// "0403:6001": four hexadecimal digits on each side of the colon.
bool isVidPid(const std::string& selector) {
    return selector.size() == 9 && selector[4] == ':' && isHexDigits(selector, 0, 4) &&
           isHexDigits(selector, 5, 4);
}

std::vector<const ListedPort*> adaptersSelected(const std::string& selector,
                                                const std::vector<ListedPort>& listing) {
    const bool byVidPid = isVidPid(selector);
    std::vector<const ListedPort*> matches;
    for (const ListedPort& port : listing) {
        const std::string& key = byVidPid ? port.usbId : port.serialNumber;
        if (!key.empty() && sameText(key, selector)) matches.push_back(&port);
    }
    return matches;
}

std::string describeCandidate(const ListedPort& port) {
    std::string text = port.name + " (USB " + port.usbId;
    if (!port.serialNumber.empty()) text += ", serial " + port.serialNumber;
    if (!port.location.empty()) text += ", at " + port.location;
    return text + ")";
}

// The value of "VID_xxxx" (or PID_) in a device id, as four lower-case hex digits.
std::string idField(const std::string& upperId, const std::string& field) {
    const std::size_t at = upperId.find(field + "_");
    if (at == std::string::npos || !isHexDigits(upperId, at + field.size() + 1, 4)) return "";
    return lowerCase(upperId.substr(at + field.size() + 1, 4));
}

}  // namespace

std::vector<ListedPort> listPorts() {
    const PortLister lister = testLister.load();
    return lister != nullptr ? lister() : systemPortListing();
}

void setPortListerForTests(PortLister lister) { testLister.store(lister); }

bool isUsbPortName(const std::string& name) {
    return name.size() > kUsbPrefixLength && sameText(name.substr(0, kUsbPrefixLength), kUsbPrefix);
}

bool resolvePortName(const std::string& name, const std::vector<ListedPort>& listing,
                     std::string& resolved, std::string& error) {
    error.clear();
    if (!isUsbPortName(name)) {
        resolved = name;
        return true;
    }
    const std::string selector = name.substr(kUsbPrefixLength);
    const bool byVidPid = isVidPid(selector);
    const std::vector<const ListedPort*> matches = adaptersSelected(selector, listing);
    if (matches.size() == 1) {
        resolved = matches.front()->name;
        return true;
    }
    resolved.clear();
    if (matches.empty()) {
        error = name + ": no USB adapter with " + (byVidPid ? "VID:PID " : "the serial number ") +
                selector + " is present (quorvel-cli ports lists them)";
        return false;
    }
    error = name + " matches " + std::to_string(matches.size()) + " adapters: ";
    for (std::size_t i = 0; i < matches.size(); ++i) {
        error += (i > 0 ? ", " : "") + describeCandidate(*matches[i]);
    }
    error += byVidPid ? "; pick one by its serial number, usb:SERIAL, or by its port name"
                      : "; pick one by its port name";
    return false;
}

const ListedPort* findListedPort(const std::string& name, const std::vector<ListedPort>& listing) {
    std::string device;
    std::string error;
    if (!resolvePortName(name, listing, device, error)) return nullptr;
    // The name itself or another name of the port (a by-id link, \\.\COM5,
    // com05); of several entries for one port (a comN link of
    // QUORVEL_PORT_DIR and the device it leads to), the one with USB facts.
    const std::string identity = devicePortIdentity(device);
    const ListedPort* found = nullptr;
    for (const ListedPort& port : listing) {
        if (port.name != device && devicePortIdentity(port.name) != identity) continue;
        if (found == nullptr || (found->usbId.empty() && !port.usbId.empty())) found = &port;
    }
    return found;
}

PortNameCheck portNameCheck(const std::string& name, std::string& error) {
    error.clear();
    if (!isUsbPortName(name)) return PortNameCheck::Usable;
    const std::vector<ListedPort> listing = listPorts();
    std::string device;
    if (resolvePortName(name, listing, device, error)) return PortNameCheck::Usable;
    return adaptersSelected(name.substr(kUsbPrefixLength), listing).empty()
               ? PortNameCheck::NoMatch
               : PortNameCheck::SeveralMatches;
}

std::string latencyWarning(const ListedPort& port) {
    if (port.latencyTimerMs <= kHighestGoodLatencyMs) return "";
    return "warning: the adapter's latency timer is " + std::to_string(port.latencyTimerMs) +
           " ms, so each reply of the device can wait that long and the transfer takes much "
           "longer; set it to 1 ms: " +
           latencyAdvice(port);
}

UsbInstanceId parseUsbInstanceId(const std::string& instanceId) {
    UsbInstanceId parsed;
    std::string upper = instanceId;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool ftdiBus = upper.rfind("FTDIBUS\\", 0) == 0;
    if (!ftdiBus && upper.rfind("USB\\", 0) != 0) return parsed;
    const std::string vendor = idField(upper, "VID");
    const std::string product = idField(upper, "PID");
    if (vendor.empty() || product.empty()) return parsed;
    parsed.usbId = vendor + ":" + product;

    // USB\VID_v&PID_p[&MI_nn]\INSTANCE; FTDIBUS\VID_v+PID_p+SERIALx\0000.
    const std::size_t firstSlash = instanceId.find('\\');
    const std::size_t secondSlash = instanceId.find('\\', firstSlash + 1);
    const std::string deviceField = upper.substr(firstSlash + 1, secondSlash - firstSlash - 1);
    std::string serial;
    if (ftdiBus) {
        const std::size_t plus = deviceField.rfind('+');
        if (plus != std::string::npos && deviceField.find("PID_") < plus) {
            serial = instanceId.substr(firstSlash + 1 + plus + 1, deviceField.size() - plus - 1);
        }
        // The driver appends the channel letter (A, B, ...) to the chip's serial number.
        if (serial.size() > 1 && std::isalpha(static_cast<unsigned char>(serial.back())) != 0) {
            serial.pop_back();
        }
    } else {
        parsed.compositeInterface = deviceField.find("&MI_") != std::string::npos;
        if (!parsed.compositeInterface && secondSlash != std::string::npos) {
            serial = instanceId.substr(secondSlash + 1);
        }
    }
    // Windows makes up an instance id with '&' in it for a device without a serial number.
    if (serial.find('&') == std::string::npos && serial.find('\\') == std::string::npos) {
        parsed.serialNumber = serial;
    }
    return parsed;
}

std::string descriptionFromFriendlyName(const std::string& friendlyName,
                                        const std::string& portName) {
    const std::string suffix = " (" + portName + ")";
    if (friendlyName.size() > suffix.size() &&
        sameText(friendlyName.substr(friendlyName.size() - suffix.size()), suffix)) {
        return friendlyName.substr(0, friendlyName.size() - suffix.size());
    }
    return friendlyName;
}

PortFacts lookUpPort(const std::string& port) {
    PortFacts facts;
    facts.known = true;
    const std::vector<ListedPort> listing = listPorts();
    std::string error;
    if (!resolvePortName(port, listing, facts.device, error)) return facts;
    if (const ListedPort* entry = findListedPort(facts.device, listing)) facts.adapter = *entry;
    return facts;
}
