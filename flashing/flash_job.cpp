#include "flashing/flash_job.h"

#include <chrono>

#include "flashing/messages.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

// Fills the outcome of a port that did not open.
template <typename Result>
void portNotOpened(Result& result, int osError) {
    result.outcome = portInUse(osError) ? PortOutcome::PortInUse : PortOutcome::PortNotOpened;
    result.osError = osError;
    result.message = kNoDeviceMessage;
}

void tellStep(const FlashEvents& events, FlashStep step) {
    if (events.step) events.step(step);
}

void tellLog(const FlashEvents& events, const char* line) {
    if (events.log) events.log(line);
}

}  // namespace

ResultStatus outcomeStatus(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Done:
            return ResultStatus::Ok;
        case PortOutcome::SwitchRefused:
        case PortOutcome::TransferFailed:
            return ResultStatus::Refused;
        case PortOutcome::PortNotOpened:
        case PortOutcome::PortInUse:
        case PortOutcome::NoDevice:
        case PortOutcome::PortLost:
        case PortOutcome::NoBootLoader:
            return ResultStatus::NoDevice;
        case PortOutcome::Stopped:
            return ResultStatus::Interrupted;
    }
    return ResultStatus::Refused;
}

bool finishDownload(DeviceSession& session, const DeviceIdentity& before, const FlashEvents& events,
                    std::uint32_t settleMs) {
    // The image is written; the device stores it before it is asked anything.
    tellLog(events, kDownloadCompletedLine);
    tellStep(events, FlashStep::Settling);
    if (!pauseUnlessStopped(settleMs, session.stopFlag())) return false;
    // The application's text is still the one from before the boot switch.
    if (redetectsAfterDownload(before)) {
        tellStep(events, FlashStep::Redetecting);
        const DetectOutcome again = session.detect();
        if (session.stopRequested()) return false;
        if (events.identified) events.identified(session.identity());
        if (again != DetectOutcome::Found && events.notice) events.notice(kNoDeviceMessage);
    }
    tellLog(events, kFinishedLine);
    tellStep(events, FlashStep::Disconnecting);
    session.disconnect();
    tellLog(events, kDisconnectedLine);
    return true;
}

namespace {

// The job's steps. Each fills in `result` and says whether the job goes on.

// A stop ends the job as Stopped, whatever the step had found.
bool stoppedAt(const DeviceSession& session, FlashResult& result) {
    if (!session.stopRequested()) return false;
    result.outcome = PortOutcome::Stopped;
    result.message.clear();
    return true;
}

bool detectDevice(DeviceSession& session, const FlashEvents& events, FlashResult& result) {
    tellStep(events, FlashStep::Detecting);
    const DetectOutcome detected = session.detect();
    if (stoppedAt(session, result)) return false;
    if (detected != DetectOutcome::Found) {
        result.outcome = detected == DetectOutcome::PortNotReopened ? PortOutcome::PortLost
                                                                    : PortOutcome::NoDevice;
        result.osError = session.openError();
        result.message = kNoDeviceMessage;
        return false;
    }
    result.before = session.identity();
    result.after = session.identity();
    tellLog(events, kConnectedLine);
    return true;
}

bool switchToBootLoader(DeviceSession& session, const FlashEvents& events, FlashResult& result) {
    if (!session.identity().bootLoader()) tellStep(events, FlashStep::SwitchingToBootLoader);
    const SwitchOutcome switched = session.enterBootLoader();
    result.after = session.identity();
    if (stoppedAt(session, result)) return false;
    switch (switched) {
        case SwitchOutcome::InBootLoader:
            return true;
        case SwitchOutcome::Refused:
            result.outcome = PortOutcome::SwitchRefused;
            result.message = kCheckCableMessage;
            return false;
        case SwitchOutcome::PortNotReopened:
            result.outcome = PortOutcome::PortLost;
            result.osError = session.openError();
            result.message = kNoDeviceMessage;
            return false;
        case SwitchOutcome::NoBootLoader:
            result.outcome = PortOutcome::NoBootLoader;
            result.message = kNoDeviceMessage;
            return false;
    }
    return true;
}

bool transferImage(DeviceSession& session, const ImageBlock* firstBlock,
                   std::uint32_t downloadFlags, const FlashEvents& events, FlashResult& result) {
    tellStep(events, FlashStep::Transferring);
    const auto start = std::chrono::steady_clock::now();
    result.transferred = true;
    result.transfer =
        session.transfer(firstBlock, downloadFlags, events.progress, result.sentBytes);
    result.transferSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (result.transfer.ok()) return true;
    if (stoppedAt(session, result)) return false;
    result.outcome =
        result.transfer.portLost() ? PortOutcome::PortLost : PortOutcome::TransferFailed;
    result.osError = result.transfer.osError;
    result.message = communicationErrorMessage(result.transfer);
    return false;
}

// Confirmed by the device: written, even if a stop cuts the steps after it short.
void finishTransferred(DeviceSession& session, const FlashEvents& events, std::uint32_t settleMs,
                       FlashResult& result) {
    result.outcome = PortOutcome::Done;
    FlashEvents afterEvents = events;
    afterEvents.identified = [&result, &events](const DeviceIdentity& identity) {
        result.after = identity;
        if (events.identified) events.identified(identity);
    };
    result.settleCut = !finishDownload(session, result.before, afterEvents, settleMs);
}

}  // namespace

FlashResult flashDevice(const std::string& portName, const ImageBlock* firstBlock,
                        std::uint32_t downloadFlags, const FlashEvents& events,
                        const std::atomic<bool>* stop, const FlashPauses& pauses) {
    FlashResult result;
    DeviceSession session(portName, stop, pauses.bootSwitchMs);
    if (!session.isOpen()) {
        portNotOpened(result, session.openError());
        return result;
    }
    if (detectDevice(session, events, result) && switchToBootLoader(session, events, result) &&
        transferImage(session, firstBlock, downloadFlags, events, result)) {
        finishTransferred(session, events, pauses.settleMs, result);
    }
    return result;
}

IdentifyResult identifyDevice(const std::string& portName, const std::atomic<bool>* stop) {
    IdentifyResult result;
    DeviceSession session(portName, stop);
    if (!session.isOpen()) {
        portNotOpened(result, session.openError());
        return result;
    }
    const DetectOutcome detected = session.detect();
    result.identity = session.identity();
    if (session.stopRequested()) {
        result.outcome = PortOutcome::Stopped;
    } else if (detected == DetectOutcome::Found) {
        result.outcome = PortOutcome::Done;
    } else {
        result.outcome = detected == DetectOutcome::PortNotReopened ? PortOutcome::PortLost
                                                                    : PortOutcome::NoDevice;
        result.osError = session.openError();
        result.message = kNoDeviceMessage;
    }
    return result;
}
