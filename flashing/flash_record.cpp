#include "flashing/flash_record.h"

#include "flashing/messages.h"

double bytesPerSecond(const FlashResult& result) {
    return result.transferSeconds > 0 ? result.sentBytes / result.transferSeconds : 0;
}

nlohmann::ordered_json flashRecordJson(const FlashRecord& record) {
    using Json = nlohmann::ordered_json;
    const std::string& port = record.port;
    const PortFacts& facts = record.facts;
    const FlashResult& result = record.result;
    Json described = {{"port", port},
                      {"device", facts.device.empty() ? Json() : Json(facts.device)}};
    if (isUsbPortName(port)) {
        described["usb_id"] = facts.adapter.usbId;
        described["serial_number"] = facts.adapter.serialNumber;
    }
    const Json outcome = {{"ok", result.outcome == PortOutcome::Done},
                          {"code", result.code()},
                          {"os_error", result.osError},
                          {"message", result.message},
                          {"device_before", describeDevice(result.before)},
                          {"device_after", describeDevice(result.after)},
                          {"bytes", result.sentBytes},
                          {"seconds", result.transferSeconds},
                          {"bytes_per_second", record.bytesPerSecond},
                          {"status", statusNumber(record.status)},
                          {"detail", record.detail}};
    described.update(outcome);
    return described;
}
