// Writes a list of image blocks into the device's boot loader: one start
// command, then per block a negotiation of the packet size, checksummed data
// packets each acknowledged before the next, and an end packet.
#pragma once

#include <cstdint>
#include <memory>

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
};

// Results besides 0 and the start command's OS error code. A port failure e
// during a block gives e - kBlockPortErrorOffset (so a silent device, kTimedOut,
// gives -10001).
constexpr int kBlockPortErrorOffset = 10000;
constexpr int kPacketDamaged = -9978;   // the device found a data packet damaged (status 2)
constexpr int kPacketRejected = -9979;  // the device rejected a data packet (status 5)
constexpr int kUnexpectedAcknowledgement = -9997;  // other status, wrong end reply, or short reply
constexpr int kBadNegotiation = -9999;  // packet too long, or no usable packet size announced
constexpr int kNoStartReply = -10014;   // the reply after the go-ahead was not status 14

// True for the fixed results that come from the device's answers or its
// silence, as opposed to success and to a failed port call.
bool isDeviceFailure(int result);

// Packet sizes in words (header included) that a block accepts from the device:
// at least one data word per packet, and a buffer of at most 64 KiB.
constexpr std::uint32_t kMinPacketWords = 6;
constexpr std::uint32_t kMaxPacketWords = 16384;

// Sends every block from `firstBlock` on, in list order. `flags` goes out as
// the start command's parameter and its bit 0 into every data packet;
// `progress` (may be null) and `context` are stored in the session. Returns 0,
// the OS error code of a failed start command, or the first block's failure.
int transferImage(const ImageBlock* firstBlock, TransferSession& session, void* context,
                  std::uint32_t flags, ProgressCallback progress);

// Sends one block of `byteCount` bytes (a negative count carries no data).
int sendBlock(TransferSession& session, std::uint32_t address, std::int32_t byteCount,
              const std::uint8_t* data, std::uint32_t flags);
