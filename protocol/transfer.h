// Writes a list of image blocks into the device's boot loader: one start
// command, then per block a negotiation of the packet size, checksummed data
// packets each acknowledged before the next, and an end packet.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "image/image_block.h"
#include "protocol/port_link.h"

// Told the percentage of the download acknowledged so far, after every data
// packet; its result is ignored.
using ProgressCallback = int (*)(void* context, std::int32_t percent);

// The state of one download.
struct TransferSession {
    explicit TransferSession(SerialPort* port) : link(new PortLink{port}) {}

    std::unique_ptr<PortLink> link;       // every packet of the download goes through it
    ProgressCallback progress = nullptr;  // set by transferImage
    void* context = nullptr;              // handed back to progress
    std::int32_t totalBytes = 0;          // data bytes of all blocks
    std::int32_t sentBytes = 0;           // data bytes acknowledged so far
    std::int32_t sentPackets = 0;         // data packets sent so far, the current one included
};

// How a transfer ended.
enum class TransferFailure {
    None,             // every block written and confirmed
    StartNotSent,     // writing the start command failed
    PortFailed,       // a port call failed during a block
    DeviceSilent,     // the device stopped answering (or draining its input) during a block
    Stopped,          // the stop flag ended the transfer
    PacketDamaged,    // a data packet was acknowledged with status 2
    PacketRejected,   // a data packet was acknowledged with status 5
    UnexpectedReply,  // another acknowledgement status, a wrong end reply, or a short reply
    BadNegotiation,   // no usable packet size announced, or a reply longer than 16 bytes
    NoStartReply,     // the reply after the go-ahead did not carry status 14
};

struct TransferResult {
    TransferFailure failure = TransferFailure::None;
    int osError = 0;                 // the OS error of StartNotSent and PortFailed
    std::int32_t packet = 0;         // the data packet involved, counted from 1 over the download
    std::uint32_t deviceStatus = 0;  // the status word of the reply that ended it, or:
    static constexpr std::uint32_t kStatusNotKnown = 0xFFFFFFFFu;  // made from a code alone

    bool ok() const { return failure == TransferFailure::None; }
    // The port failed under the transfer (unplugged, driver error), as opposed
    // to the device refusing or falling silent.
    bool portLost() const {
        return failure == TransferFailure::StartNotSent || failure == TransferFailure::PortFailed;
    }
};

// The numbers the user sees after "Communication Error " and as the result
// code: the start command's OS error e as it is, a port error e during a block
// as e - kBlockPortErrorOffset, silence as -10001, and the device's refusals as
// the fixed codes below.
constexpr int kBlockPortErrorOffset = 10000;
constexpr int kDeviceSilentCode = -1 - kBlockPortErrorOffset;
constexpr int kPacketDamaged = -9978;
constexpr int kPacketRejected = -9979;
constexpr int kUnexpectedAcknowledgement = -9997;
constexpr int kBadNegotiation = -9999;
constexpr int kNoStartReply = -10014;
int displayCode(const TransferResult& result);
// The inverse of displayCode: the result a code shows, as far as the code
// tells it: no packet, and the device's status word kStatusNotKnown. A code
// means a port error when `portFailed` (the port was lost), else a device's
// refusal or silence, since OS error 22 during a block shows as -9978 like a
// damaged packet. None for a code that displayCode never gives so.
std::optional<TransferResult> transferResultOfCode(int code, bool portFailed);

// Packet sizes in words (header included) that a block accepts from the device:
// at least one data word per packet, and a buffer of at most 64 KiB.
constexpr std::uint32_t kMinPacketWords = 6;
constexpr std::uint32_t kMaxPacketWords = 16384;

// Sends every block from `firstBlock` on, in list order. `flags` goes out as
// the start command's parameter and its bit 0 into every data packet;
// `progress` (may be null) and `context` are stored in the session. The first
// failure ends the transfer.
TransferResult transferImage(const ImageBlock* firstBlock, TransferSession& session, void* context,
                             std::uint32_t flags, ProgressCallback progress);

// Sends one block of `byteCount` bytes (a negative count carries no data).
TransferResult sendBlock(TransferSession& session, std::uint32_t address, std::int32_t byteCount,
                         const std::uint8_t* data, std::uint32_t flags);
