#include "capi/port_facts.h"

#include "capi/result_values.h"

void describePortFacts(const PortFacts& facts, quorvel_result& result) {
    copyText(facts.device, result.device, sizeof result.device);
    copyText(facts.adapter.usbId, result.usb_id, sizeof result.usb_id);
    copyText(facts.adapter.serialNumber, result.serial_number, sizeof result.serial_number);
}
