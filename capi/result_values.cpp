#include "capi/result_values.h"

#include <cstring>

#include "flashing/device_identity.h"
#include "flashing/messages.h"
#include "flashing/status.h"

// The library's statuses are the table's (flashing/status.h), every one of them.
static_assert(QUORVEL_STATUS_OK == statusNumber(ResultStatus::Ok) &&
                  QUORVEL_STATUS_REFUSED == statusNumber(ResultStatus::Refused) &&
                  QUORVEL_STATUS_ARGUMENTS == statusNumber(ResultStatus::WrongRequest) &&
                  QUORVEL_STATUS_IMAGE == statusNumber(ResultStatus::BadImage) &&
                  QUORVEL_STATUS_NO_DEVICE == statusNumber(ResultStatus::NoDevice) &&
                  QUORVEL_STATUS_RECORDS == statusNumber(ResultStatus::RecordsLost) &&
                  QUORVEL_STATUS_DATABASE == statusNumber(ResultStatus::Database) &&
                  QUORVEL_STATUS_CANCELLED == statusNumber(ResultStatus::Interrupted) &&
                  kAllStatuses.size() == 8,
              "a QUORVEL_STATUS_* for every status of the table");

int outcomeNumber(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Done:
            return QUORVEL_OUTCOME_DONE;
        case PortOutcome::PortNotOpened:
            return QUORVEL_OUTCOME_PORT_NOT_OPENED;
        case PortOutcome::PortInUse:
            return QUORVEL_OUTCOME_PORT_IN_USE;
        case PortOutcome::NoDevice:
            return QUORVEL_OUTCOME_NO_DEVICE;
        case PortOutcome::PortLost:
            return QUORVEL_OUTCOME_PORT_LOST;
        case PortOutcome::SwitchRefused:
            return QUORVEL_OUTCOME_SWITCH_REFUSED;
        case PortOutcome::NoBootLoader:
            return QUORVEL_OUTCOME_NO_BOOT_LOADER;
        case PortOutcome::TransferFailed:
            return QUORVEL_OUTCOME_TRANSFER_FAILED;
        case PortOutcome::Stopped:
            return QUORVEL_OUTCOME_CANCELLED;
    }
    return QUORVEL_OUTCOME_TRANSFER_FAILED;
}

void copyText(const std::string& text, char* buffer, std::size_t size) {
    if (size == 0) return;
    std::size_t length = text.size();
    if (length >= size) {
        length = size - 1;
        // Back up over continuation bytes so that no character is cut in two.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
    }
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
}

namespace {

quorvel_result emptyResult() {
    quorvel_result result;
    std::memset(&result, 0, sizeof result);
    result.size = sizeof result;
    copyText(describeDevice(DeviceIdentity()), result.device_before, sizeof result.device_before);
    copyText(describeDevice(DeviceIdentity()), result.device_after, sizeof result.device_after);
    return result;
}

// Writes the facts into the result's device, usb_id and serial_number.
void copyPortFacts(const PortFacts& facts, quorvel_result& result) {
    copyText(facts.device, result.device, sizeof result.device);
    copyText(facts.adapter.usbId, result.usb_id, sizeof result.usb_id);
    copyText(facts.adapter.serialNumber, result.serial_number, sizeof result.serial_number);
}

}  // namespace

quorvel_result refusedResult(int status, int outcome, const std::string& message,
                             const std::string& detail) {
    quorvel_result result = emptyResult();
    result.status = status;
    result.outcome = outcome;
    copyText(message, result.message, sizeof result.message);
    copyText(detail, result.detail, sizeof result.detail);
    return result;
}

quorvel_result imageResult(const CodeImage& image) {
    if (image.outcome == ImageOutcome::Loaded) {
        quorvel_result result = emptyResult();
        result.ok = 1;
        result.total_bytes = image.byteCount();
        return result;
    }
    return refusedResult(QUORVEL_STATUS_IMAGE, QUORVEL_OUTCOME_BAD_IMAGE,
                         imageOutcomeText(image.outcome), image.message);
}

quorvel_result flashResult(const FlashRecord& record, std::int64_t totalBytes) {
    const FlashResult& flashed = record.result;
    quorvel_result result = emptyResult();
    result.ok = flashed.outcome == PortOutcome::Done ? 1 : 0;
    result.status = statusNumber(record.status);
    result.outcome = outcomeNumber(flashed.outcome);
    result.code = flashed.code();
    result.os_error = flashed.osError;
    copyText(flashed.message, result.message, sizeof result.message);
    copyText(record.detail, result.detail, sizeof result.detail);
    copyText(describeDevice(flashed.before), result.device_before, sizeof result.device_before);
    copyText(describeDevice(flashed.after), result.device_after, sizeof result.device_after);
    result.bytes = flashed.sentBytes;
    result.seconds = flashed.transferSeconds;
    result.total_bytes = totalBytes;
    copyPortFacts(record.facts, result);
    return result;
}

quorvel_result identifyResult(const IdentifyResult& identified, const PortFacts& facts) {
    quorvel_result result = emptyResult();
    result.ok = identified.outcome == PortOutcome::Done ? 1 : 0;
    result.status = statusNumber(outcomeStatus(identified.outcome));
    result.outcome = outcomeNumber(identified.outcome);
    result.os_error = identified.osError;
    copyText(identified.message, result.message, sizeof result.message);
    copyText(jobDetailText(identified), result.detail, sizeof result.detail);
    const std::string device = describeDevice(identified.identity);
    copyText(device, result.device_before, sizeof result.device_before);
    copyText(device, result.device_after, sizeof result.device_after);
    copyPortFacts(facts, result);
    return result;
}
