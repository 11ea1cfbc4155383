// One port and the device behind it, driven step by step the way the dialog's
// online button and DOWNLOAD do: open, detect, switch to the boot loader,
// transfer, re-detect, close. Each step reports its outcome; what to show for
// it is the caller's business. Every wait ends early once `stop` is set.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "flashing/device_identity.h"
#include "image/image_block.h"
#include "protocol/port_link.h"
#include "protocol/transfer.h"
#include "serial/owned_port.h"

// Fixed pauses: before the re-detection after a boot switch, while the device
// restarts into its boot loader; and after a successful transfer, while it
// stores the image.
constexpr std::uint32_t kBootSwitchPauseMs = 3000;
constexpr std::uint32_t kSettleAfterDownloadMs = 7000;

// The two pauses of a job. Only tests that run hundreds of jobs shorten them,
// against a simulated device that restarts and stores at once.
struct FlashPauses {
    std::uint32_t bootSwitchMs = kBootSwitchPauseMs;
    std::uint32_t settleMs = kSettleAfterDownloadMs;
};

// Sleeps `milliseconds` in short slices; false as soon as `stop` is set.
bool pauseUnlessStopped(std::uint32_t milliseconds, const std::atomic<bool>* stop);

enum class DetectOutcome {
    Found,            // a boot loader or the application answered
    PortNotReopened,  // the port did not open again within the re-open bound
    NothingAnswered,  // neither answered; the port has been closed
};

enum class SwitchOutcome {
    InBootLoader,     // a boot loader was already known, or answered after the switch
    Refused,          // the application refused the switch; the port has been closed
    PortNotReopened,  // the port did not open again after the pause
    NoBootLoader,     // no boot loader answered after the pause; the port stays open
};

// Told the data bytes acknowledged so far and the total, after every data packet.
using TransferProgress = std::function<void(std::int32_t sentBytes, std::int32_t totalBytes)>;

class DeviceSession {
  public:
    // Opens the port: "COMn" by number, "usb:..." by its adapter (resolved again at
    // every re-open), anything else as a device path.
    DeviceSession(const std::string& portName, const std::atomic<bool>* stop,
                  std::uint32_t bootSwitchPauseMs = kBootSwitchPauseMs);
    // Takes over a port record the caller created (open or not), and re-opens
    // it later the way it was opened.
    DeviceSession(OwnedPort port, const std::atomic<bool>* stop,
                  std::uint32_t bootSwitchPauseMs = kBootSwitchPauseMs);
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    const std::string& portName() const { return portName_; }
    bool isOpen() const;
    // The OS error of the last failed open or re-open (0 if none failed).
    int openError() const { return openError_; }
    bool stopRequested() const { return stop_ != nullptr && stop_->load(); }
    const std::atomic<bool>* stopFlag() const { return stop_; }
    const DeviceIdentity& identity() const { return identity_; }

    // Re-opens the port, asks the boot loader for its version (twice, since a
    // boot loader may miss the first query while it settles) and, when none
    // answers, the application for its version text.
    DetectOutcome detect();

    // Nothing when a boot loader is known. Otherwise asks the application to
    // restart into its boot loader; if it agrees, pauses (kBootSwitchPauseMs),
    // re-opens the port and asks the boot loader twice. The application's
    // version text is kept.
    SwitchOutcome enterBootLoader();
    // enterBootLoader's two halves, for a caller that marks the pause: the
    // request (false when refused, the port then closed), and the pause with
    // the boot loader's re-detection. The port is closed during the pause: a
    // USB device that re-enumerates then tends to keep its name, since the
    // driver frees the name only at the last close.
    bool requestBootLoaderSwitch();
    SwitchOutcome findBootLoaderAfterSwitch();

    // Sends the blocks from `firstBlock` on with `flags`. `sentBytes` is the
    // data acknowledged before it returned.
    TransferResult transfer(const ImageBlock* firstBlock, std::uint32_t flags,
                            const TransferProgress& progress, std::int32_t& sentBytes);

    // Forgets the device and closes the port.
    void disconnect();

  private:
    bool reopen();
    void closeLink();
    std::uint32_t queryBootLoaderTwice();

    std::string portName_;
    const std::atomic<bool>* stop_;
    std::uint32_t bootSwitchPauseMs_;
    OwnedPort port_;
    PortLink link_;
    int openError_ = 0;
    DeviceIdentity identity_;
};
