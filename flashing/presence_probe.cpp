#include "flashing/presence_probe.h"

#include <utility>

#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "serial/serial_port.h"

PresenceProbe::PresenceProbe(std::string portName, const std::atomic<bool>* stop)
    : portName_(std::move(portName)), stop_(stop) {
    link_.stop = stop;
}

void PresenceProbe::release() {
    port_.close();
    link_.port = nullptr;
}

Presence PresenceProbe::probe(std::uint32_t replyLimitMs) {
    if (!port_.isOpen()) {
        port_ = OwnedPort::named(portName_);
        if (!port_.isOpen()) {
            openError_ = port_.openError();
            release();
            return portInUse(openError_) ? Presence::PortInUse : Presence::PortAbsent;
        }
        link_.port = port_.get();
    }
    // A late reply to the last probe would otherwise be read as this one's.
    std::uint8_t stale[256];
    std::uint32_t count = sizeof stale;
    while (readBytes(port_.get(), stale, count) == 0 && count > 0) count = sizeof stale;

    std::uint32_t version = 0;
    const LinkResult boot = queryBootVersion(&link_, version, replyLimitMs);
    if (boot.ok()) return Presence::Answered;
    if (boot != LinkStatus::PortError && queryAppVersion(&link_, replyLimitMs) != nullptr) {
        return Presence::Answered;
    }
    // A port that failed (an adapter unplugged with its board) is opened afresh next time.
    if (boot == LinkStatus::PortError) {
        release();
        return Presence::PortAbsent;
    }
    return Presence::Silent;
}
