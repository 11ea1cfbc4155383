#include "capi/port_facts.h"

#include <vector>

#include "capi/result_values.h"

PortFacts lookUpPort(const std::string& port) {
    PortFacts facts;
    facts.known = true;
    const std::vector<ListedPort> listing = listPorts();
    std::string error;
    if (!resolvePortName(port, listing, facts.device, error)) return facts;
    if (const ListedPort* entry = findListedPort(facts.device, listing)) facts.adapter = *entry;
    return facts;
}

void describePortFacts(const PortFacts& facts, quorvel_result& result) {
    copyText(facts.device, result.device, sizeof result.device);
    copyText(facts.adapter.usbId, result.usb_id, sizeof result.usb_id);
    copyText(facts.adapter.serialNumber, result.serial_number, sizeof result.serial_number);
}
