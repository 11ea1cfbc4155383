#include "flashing/flash_record.h"

#include "flashing/messages.h"

double bytesPerSecond(const FlashResult& result) {
    return result.transferSeconds > 0 ? result.sentBytes / result.transferSeconds : 0;
}

nlohmann::ordered_json flashRecordJson(const std::string& port, const PortFacts& facts,
                                       const FlashResult& result) {
    using Json = nlohmann::ordered_json;
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
                          {"bytes_per_second", bytesPerSecond(result)},
                          {"status", statusNumber(outcomeStatus(result.outcome))},
                          {"detail", failureDetail(result)}};
    described.update(outcome);
    return described;
}
