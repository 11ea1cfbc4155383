#include "flashing/flash_job.h"

#include <chrono>

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

}  // namespace

bool transferLostPort(int code) {
    // A failed start command reports the OS error itself; during a block a
    // port error e arrives as e - 10000, except silence (kTimedOut), and
    // except where it coincides with a code of the device's refusals.
    if (code > 0) return true;
    if (code == 0 || isDeviceFailure(code)) return false;
    return code > -kBlockPortErrorOffset;
}

FlashResult flashDevice(const std::string& portName, const ImageBlock* firstBlock,
                        std::uint32_t downloadFlags, const FlashEvents& events,
                        const std::atomic<bool>* stop, const FlashPauses& pauses) {
    FlashResult result;
    auto step = [&events](FlashStep which) {
        if (events.step) events.step(which);
    };
    auto log = [&events](const char* line) {
        if (events.log) events.log(line);
    };

    DeviceSession session(portName, stop, pauses.bootSwitchMs);
    auto stopped = [&]() {
        if (!session.stopRequested()) return false;
        result.outcome = PortOutcome::Stopped;
        result.message.clear();
        return true;
    };
    if (!session.isOpen()) {
        portNotOpened(result, session.openError());
        return result;
    }

    step(FlashStep::Detecting);
    const DetectOutcome detected = session.detect();
    if (stopped()) return result;
    if (detected != DetectOutcome::Found) {
        result.outcome = detected == DetectOutcome::PortNotReopened ? PortOutcome::PortLost
                                                                    : PortOutcome::NoDevice;
        result.osError = session.openError();
        result.message = kNoDeviceMessage;
        return result;
    }
    result.before = session.identity();
    result.after = session.identity();
    log(kConnectedLine);

    if (!session.identity().bootLoader()) step(FlashStep::SwitchingToBootLoader);
    const SwitchOutcome switched = session.enterBootLoader();
    result.after = session.identity();
    if (stopped()) return result;
    switch (switched) {
        case SwitchOutcome::InBootLoader:
            break;
        case SwitchOutcome::Refused:
            result.outcome = PortOutcome::SwitchRefused;
            result.message = kCheckCableMessage;
            return result;
        case SwitchOutcome::PortNotReopened:
            result.outcome = PortOutcome::PortLost;
            result.osError = session.openError();
            result.message = kNoDeviceMessage;
            return result;
        case SwitchOutcome::NoBootLoader:
            result.outcome = PortOutcome::NoBootLoader;
            result.message = kNoDeviceMessage;
            return result;
    }

    step(FlashStep::Transferring);
    const auto start = std::chrono::steady_clock::now();
    result.transferred = true;
    result.code = session.transfer(firstBlock, downloadFlags, events.progress, result.sentBytes);
    result.transferSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (stopped()) return result;
    if (result.code != 0) {
        result.outcome =
            transferLostPort(result.code) ? PortOutcome::PortLost : PortOutcome::TransferFailed;
        result.message = communicationErrorMessage(result.code);
        return result;
    }

    // The image is written; the device stores it before it is asked anything.
    log(kDownloadCompletedLine);
    step(FlashStep::Settling);
    if (!pauseUnlessStopped(pauses.settleMs, stop)) {
        stopped();
        return result;
    }
    // The application's text is still the one from before the boot switch.
    if (redetectsAfterDownload(result.before)) {
        step(FlashStep::Redetecting);
        const DetectOutcome again = session.detect();
        if (stopped()) return result;
        result.after = session.identity();
        if (again != DetectOutcome::Found && events.notice) events.notice(kNoDeviceMessage);
    }
    log(kFinishedLine);
    session.disconnect();
    log(kDisconnectedLine);
    result.outcome = PortOutcome::Done;
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
