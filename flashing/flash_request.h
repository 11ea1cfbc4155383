// One port's flash as every front end asks for it and gets it back: the port,
// the image with an optional serial number written into the port's own copy,
// and the record of what came of it, with the facts of the port and its
// adapter. The command line, the station and the C API all flash through it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "flashing/flash_job.h"
#include "flashing/status.h"
#include "image/serial_stamp.h"
#include "serial/port_listing.h"

// Whether a port name is flashed as things stand. A usb: name that matches
// several adapters is refused: which board is meant cannot be known. One that
// matches none is tried all the same, since a fixture's board may simply be
// unplugged: its open then fails as an absent port's.
struct PortNameDecision {
    enum class Kind { Try, TryUnmatched, Refuse };
    Kind kind = Kind::Try;
    std::string text;  // what the listing said for TryUnmatched and Refuse
};
PortNameDecision decidePortName(const std::string& port);

// What the caller decides once the board is in its boot loader, before any
// byte of the image.
struct TransferStart {
    bool go = false;                      // false: end the job as stopped
    std::optional<std::uint64_t> serial;  // written into this port's copy of the image
};

struct FlashRequest {
    std::string port;
    const ImageBlock* firstBlock = nullptr;
    std::uint32_t downloadFlags = 0;
    FlashPauses pauses;
    // Where a serial number goes; none: the image is flashed as it is.
    std::optional<SerialLayout> serialLayout;
    // The number, written before the port is opened; or none, and given by beforeTransfer.
    std::optional<std::uint64_t> serialNumber;
    std::function<TransferStart()> beforeTransfer;
    // The adapter's latency timer is too high (FlashRecord::latencyWarning), said when
    // the transfer starts.
    std::function<void(const std::string& warning)> latencyWarned;
};

// Why a request was refused before its port was opened.
struct FlashRefusal {
    ResultStatus status = ResultStatus::Ok;  // Ok: not refused
    std::string text;
};

struct FlashRecord {
    std::string port;
    FlashRefusal refusal;        // the serial number given does not fit the image or its layout
    PortFacts facts;             // looked up while the port was open, or after the job
    std::string latencyWarning;  // "" or latencyWarning() of the adapter at the transfer
    std::string serialError;     // the number beforeTransfer gave could not be written
    FlashResult result;
    ResultStatus status = ResultStatus::NoDevice;
    std::string detail;  // jobDetailText()
    std::string reason;  // jobReasonText()
    double bytesPerSecond = 0;
};

// The refusal flashPort would give, found without opening the port.
FlashRefusal checkFlashRequest(const FlashRequest& request);

// Runs the job on one port (flashDevice), unless the request is refused. `stop` is set when
// beforeTransfer says no or its serial number cannot be written, which ends the job as stopped.
FlashRecord flashPort(const FlashRequest& request, const FlashEvents& events,
                      std::atomic<bool>* stop);
