// Whether a board sits on a port, asked quickly and often: the boot loader's
// version request, then the application's version query, each with a short
// wait. A station probes an empty slot this way and runs the full detection
// only once something answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "protocol/port_link.h"
#include "serial/owned_port.h"

enum class Presence {
    Answered,    // the boot loader or the application answered
    Silent,      // the port is there, nothing answered
    PortAbsent,  // the port cannot be opened (not there yet, or gone)
    PortInUse,   // another program holds the port
};

// How long a probe waits for each of its two replies: a device answers within
// milliseconds, so a board placed on a slot is found within a probe interval.
constexpr std::uint32_t kProbeReplyLimitMs = 80;
// The wait of the probes that watch a board for its removal: shorter, so that
// a removal is seen sooner, while several silent probes in a row must agree.
constexpr std::uint32_t kRemovalProbeReplyLimitMs = 50;

class PresenceProbe {
  public:
    PresenceProbe(std::string portName, const std::atomic<bool>* stop);
    PresenceProbe(const PresenceProbe&) = delete;
    PresenceProbe& operator=(const PresenceProbe&) = delete;

    // Opens the port when it is not open, drops what arrived since the last
    // probe, and asks, waiting `replyLimitMs` for each reply. A port that fails
    // under the probe is closed, so the next probe opens it afresh.
    Presence probe(std::uint32_t replyLimitMs = kProbeReplyLimitMs);
    // Closes the port, for the flashing job that opens it itself.
    void release();
    // The OS error of the last failed open.
    int openError() const { return openError_; }

  private:
    std::string portName_;
    const std::atomic<bool>* stop_;
    OwnedPort port_;
    PortLink link_{nullptr};
    int openError_ = 0;
};
