// The whole job on one port, as the dialog does online followed by DOWNLOAD:
// detection, the boot switch when the application runs, the transfer, and
// after success the settling pause, a re-detection for a device whose
// application text began "bl-", and the disconnection. Also the detection
// alone. Nothing is printed; callers are told through FlashEvents.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "flashing/device_identity.h"
#include "flashing/device_session.h"
#include "flashing/status.h"
#include "image/image_block.h"

enum class FlashStep {
    Detecting,
    SwitchingToBootLoader,  // includes the pause and the boot loader's re-detection
    Transferring,
    Settling,       // the pause after a successful transfer
    Redetecting,    // the re-detection after a "bl-" device's download
    Disconnecting,  // the job is over and the port about to close
};

// Every callback is optional and runs on the job's thread.
struct FlashEvents {
    std::function<void(FlashStep)> step;
    // The lines of the progress log: "connected.\n", "download completed. ...".
    std::function<void(const std::string& line)> log;
    // A failure message that does not end the job (the "bl-" re-detection found nothing).
    std::function<void(const std::string& message)> notice;
    // What the re-detection after a download found (found() false: nothing).
    std::function<void(const DeviceIdentity& identity)> identified;
    TransferProgress progress;
};

// How the job on one port ended.
enum class PortOutcome {
    Done,            // flashed (or, for identifyDevice, a device answered)
    PortNotOpened,   // the port cannot be opened (absent, refused)
    PortInUse,       // another program holds the port
    NoDevice,        // nothing answered
    PortLost,        // the port did not open again, or failed during the transfer
    SwitchRefused,   // the application refused the boot switch
    NoBootLoader,    // the boot switch was accepted but no boot loader answered
    TransferFailed,  // the device refused data, or stopped answering
    Stopped,         // the stop flag was set before the job ended
};

// The status an outcome gives, the same for every front end: Ok, Refused by
// the device or a failed transfer, NoDevice for a port that cannot be opened
// or was lost, Interrupted.
ResultStatus outcomeStatus(PortOutcome outcome);

struct FlashResult {
    PortOutcome outcome = PortOutcome::PortNotOpened;
    TransferResult transfer;  // how the transfer ended; None when it succeeded or did not run
    std::string message;      // the failure message as the dialog shows it; empty on success
    int osError = 0;        // the OS error of a failed open, or of the port lost under the transfer
    DeviceIdentity before;  // what answered at the start
    DeviceIdentity after;   // what answered last (the boot loader, or the re-detection's finding)
    bool transferred = false;  // the transfer ran (whatever its result)
    // Written and confirmed, but the stop flag cut the pause (or the re-detection) after it short.
    bool settleCut = false;
    std::int32_t sentBytes = 0;
    double transferSeconds = 0;

    // The transfer's result code as the user sees it.
    int code() const { return displayCode(transfer); }
};

// The steps after a confirmed transfer, the same for every front end: the
// "download completed" line, the pause while the device stores the image, the
// re-detection of a "bl-" device, "finished.", the disconnection and its line.
// False when the stop flag cut them short (the port is then left to the
// session's owner).
bool finishDownload(DeviceSession& session, const DeviceIdentity& before, const FlashEvents& events,
                    std::uint32_t settleMs);

FlashResult flashDevice(const std::string& portName, const ImageBlock* firstBlock,
                        std::uint32_t downloadFlags, const FlashEvents& events,
                        const std::atomic<bool>* stop, const FlashPauses& pauses = {});

struct IdentifyResult {
    PortOutcome outcome = PortOutcome::PortNotOpened;
    std::string message;
    int osError = 0;
    DeviceIdentity identity;
};

// Opens the port, detects the device as the online button does, closes the port.
IdentifyResult identifyDevice(const std::string& portName, const std::atomic<bool>* stop);
