#include "flashing/device_session.h"

#include <cstring>
#include <utility>

#include "platform/platform.h"
#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

// Short enough that a stop request ends a pause at once for a person.
constexpr std::uint32_t kPauseSliceMs = 50;

// Hands the transfer's byte counts on; the percentage is the caller's business.
struct ProgressRelay {
    const TransferSession* session;
    const TransferProgress* progress;

    static int forward(void* context, std::int32_t percent) {
        const auto* relay = static_cast<const ProgressRelay*>(context);
        (*relay->progress)(relay->session->sentBytes, relay->session->totalBytes);
        return percent;
    }
};

}  // namespace

bool pauseUnlessStopped(std::uint32_t milliseconds, const std::atomic<bool>* stop) {
    const std::uint32_t start = tickCount();
    for (;;) {
        if (stop != nullptr && stop->load()) return false;
        const std::uint32_t elapsed = ticksSince(start);
        if (elapsed >= milliseconds) return true;
        const std::uint32_t left = milliseconds - elapsed;
        sleepMilliseconds(left < kPauseSliceMs ? left : kPauseSliceMs);
    }
}

DeviceSession::DeviceSession(const std::string& portName, const std::atomic<bool>* stop,
                             std::uint32_t bootSwitchPauseMs)
    : DeviceSession(OwnedPort::named(portName), stop, bootSwitchPauseMs) {
    portName_ = portName;
}

DeviceSession::DeviceSession(OwnedPort port, const std::atomic<bool>* stop,
                             std::uint32_t bootSwitchPauseMs)
    : portName_(port.get()->path.empty() ? "COM" + std::to_string(port.get()->portNumber)
                                         : port.get()->path),
      stop_(stop),
      bootSwitchPauseMs_(bootSwitchPauseMs),
      port_(std::move(port)),
      link_(nullptr) {
    link_.stop = stop;
    link_.port = port_.get();
    if (!port_.isOpen()) {
        openError_ = port_.openError();
        closeLink();
    }
}

bool DeviceSession::isOpen() const { return port_.isOpen(); }

void DeviceSession::closeLink() {
    port_.close();
    link_.port = nullptr;
}

bool DeviceSession::reopen() {
    if (port_.get() == nullptr) {
        // Closed after a refusal, a lost port or for the boot switch: open it
        // afresh by name, and retry only if that fails.
        port_ = OwnedPort::named(portName_);
        if (!port_.isOpen()) port_.reopen(stop_);
    } else {
        port_.reopen(stop_);
    }
    link_.port = port_.get();
    if (port_.isOpen()) return true;
    openError_ = port_.openError();
    closeLink();
    return false;
}

std::uint32_t DeviceSession::queryBootLoaderTwice() {
    std::uint32_t version = kNoBootLoader;
    if (queryBootVersion(&link_, version).ok() || queryBootVersion(&link_, version).ok()) {
        return version;
    }
    return kNoBootLoader;
}

DetectOutcome DeviceSession::detect() {
    if (!reopen()) return DetectOutcome::PortNotReopened;

    identity_.bootVersion = queryBootLoaderTwice();
    identity_.hasVersionText = false;
    identity_.versionText.clear();
    if (!identity_.bootLoader()) {
        if (const char* text = queryAppVersion(&link_)) {
            identity_.hasVersionText = true;
            identity_.versionText = text;
        }
    }
    if (identity_.found()) return DetectOutcome::Found;
    closeLink();
    return DetectOutcome::NothingAnswered;
}

SwitchOutcome DeviceSession::enterBootLoader() {
    if (identity_.bootLoader()) return SwitchOutcome::InBootLoader;
    if (!requestBootLoaderSwitch()) return SwitchOutcome::Refused;
    return findBootLoaderAfterSwitch();
}

bool DeviceSession::requestBootLoaderSwitch() {
    // Silence and a port failure count as consent: a restarting device may not answer.
    if (requestBootLoader(&link_)) return true;
    closeLink();
    return false;
}

SwitchOutcome DeviceSession::findBootLoaderAfterSwitch() {
    closeLink();
    // Stopped during the pause: the caller sees the stop request.
    if (!pauseUnlessStopped(bootSwitchPauseMs_, stop_)) return SwitchOutcome::NoBootLoader;
    if (!reopen()) return SwitchOutcome::PortNotReopened;
    identity_.bootVersion = queryBootLoaderTwice();
    return identity_.bootLoader() ? SwitchOutcome::InBootLoader : SwitchOutcome::NoBootLoader;
}

TransferResult DeviceSession::transfer(const ImageBlock* firstBlock, std::uint32_t flags,
                                       const TransferProgress& progress, std::int32_t& sentBytes) {
    TransferSession session(port_.get());
    session.link->stop = stop_;
    ProgressRelay relay{&session, &progress};
    const TransferResult result = transferImage(firstBlock, session, &relay, flags,
                                                progress ? &ProgressRelay::forward : nullptr);
    sentBytes = session.sentBytes;
    return result;
}

void DeviceSession::disconnect() {
    identity_ = DeviceIdentity{};
    closeLink();
}
