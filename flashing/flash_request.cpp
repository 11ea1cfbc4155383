#include "flashing/flash_request.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "flashing/flash_record.h"
#include "flashing/messages.h"

namespace {

using Blocks = std::vector<std::unique_ptr<ImageBlock>>;

// The port's own copy of the image with the given serial number in it; the
// refusal when the number cannot be written.
// Without a serial layout there is no copy: the image is flashed as it is.
FlashRefusal copyWithSerial(const FlashRequest& request, Blocks& copy) {
    if (!request.serialLayout) return {};
    copy = copyBlocks(request.firstBlock);
    if (copy.empty() || !request.serialNumber) return {};
    const SerialLayout& layout = *request.serialLayout;
    char address[24];
    std::snprintf(address, sizeof address, "0x%06X", static_cast<unsigned>(layout.address));
    if (!serialFits(request.firstBlock, layout)) {
        return {ResultStatus::BadImage, "the serial number at " + std::string(address) +
                                            " does not lie inside the image's data"};
    }
    std::string error;
    if (!stampSerial(copy.front().get(), layout, *request.serialNumber, error)) {
        return {ResultStatus::WrongRequest, error};
    }
    return {};
}

// At the transfer: the adapter's warning, then the board's serial number
// from beforeTransfer, written into `copy`; false when the job must stop.
bool readyToTransfer(const FlashRequest& request, FlashRecord& record, ImageBlock* copy) {
    record.latencyWarning = latencyWarning(record.facts.adapter);
    if (!record.latencyWarning.empty() && request.latencyWarned) {
        request.latencyWarned(record.latencyWarning);
    }
    if (!request.beforeTransfer) return true;
    const TransferStart start = request.beforeTransfer();
    if (!start.go) return false;
    std::string error;
    if (start.serial && request.serialLayout && copy != nullptr &&
        !stampSerial(copy, *request.serialLayout, *start.serial, error)) {
        record.serialError = "serial " + std::to_string(*start.serial) + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

PortNameDecision decidePortName(const std::string& port) {
    PortNameDecision decision;
    switch (portNameCheck(port, decision.text)) {
        case PortNameCheck::Usable:
            decision.kind = PortNameDecision::Kind::Try;
            break;
        case PortNameCheck::NoMatch:
            decision.kind = PortNameDecision::Kind::TryUnmatched;
            break;
        case PortNameCheck::SeveralMatches:
            decision.kind = PortNameDecision::Kind::Refuse;
            break;
    }
    return decision;
}

FlashRefusal checkFlashRequest(const FlashRequest& request) {
    Blocks copy;
    return copyWithSerial(request, copy);
}

FlashRecord flashPort(const FlashRequest& request, const FlashEvents& events,
                      std::atomic<bool>* stop) {
    FlashRecord record;
    record.port = request.port;
    Blocks copy;
    record.refusal = copyWithSerial(request, copy);
    if (record.refusal.status != ResultStatus::Ok) return record;

    ImageBlock* stamped = copy.empty() ? nullptr : copy.front().get();
    FlashEvents watched = events;
    watched.step = [&](FlashStep step) {
        // The port is open at these steps: a usb: name has just been resolved,
        // and Linux's low-latency mode is on, which the adapter's timer shows.
        if (step == FlashStep::Detecting || step == FlashStep::Transferring) {
            record.facts = lookUpPort(request.port);
        }
        if (step == FlashStep::Transferring && !readyToTransfer(request, record, stamped)) {
            *stop = true;
        }
        if (events.step) events.step(step);
    };
    const ImageBlock* first = stamped != nullptr ? stamped : request.firstBlock;
    record.result =
        flashDevice(request.port, first, request.downloadFlags, watched, stop, request.pauses);
    if (!record.facts.known) record.facts = lookUpPort(request.port);
    record.status = outcomeStatus(record.result.outcome);
    record.detail = jobDetailText(record.result);
    record.reason = jobReasonText(record.result);
    record.bytesPerSecond = bytesPerSecond(record.result);
    return record;
}
