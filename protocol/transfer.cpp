#include "protocol/transfer.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "protocol/boot_packet.h"

namespace {

// Status words the device puts at offset 12 of its replies.
constexpr std::uint32_t kStartReplyStatus = 14;
constexpr std::uint32_t kDataAccepted = 0;
constexpr std::uint32_t kDamagedStatus = 2;   // the packet arrived damaged
constexpr std::uint32_t kRejectedStatus = 5;  // the packet does not fit the device
constexpr std::uint32_t kBlockWritten = 9;
constexpr std::uint32_t kBlockWrittenToo = 10;
// Subject (offset 8) of the reply to an end packet.
constexpr std::uint32_t kEndSubject = 2;

// The first bytes of a size announcement that the negotiation keeps; a longer
// announcement ends the block.
constexpr std::int32_t kAnnouncementRecordBytes = 16;

using Reply = std::uint8_t[kAcknowledgementBytes];

// Maps a failed readPacket or writeAll to the block's result.
int blockFailure(const PortLink* link, int status) {
    if (packetTruncated(link, status)) return kBadNegotiation;
    return status - kBlockPortErrorOffset;
}

// Reads a reply that must be exactly 16 bytes long. A shorter one gives
// `shortResult`: its missing fields must not be taken from an earlier reply.
int readReply(PortLink* link, Reply& reply, int shortResult) {
    std::memset(reply, 0, sizeof reply);
    std::int32_t count = kAcknowledgementBytes;
    const int status = readPacket(link, reply, count);
    if (status != 0) return blockFailure(link, status);
    return count < kAcknowledgementBytes ? shortResult : 0;
}

// Reads packets until the go-ahead, keeping the last size announcement, then
// the reply that follows the go-ahead. Sets the device's packet size in words.
int negotiate(PortLink* link, std::uint32_t& maxPacketWords) {
    std::uint8_t announcement[kAnnouncementRecordBytes];
    std::int32_t announcementBytes = 0;  // 0: nothing announced yet
    for (;;) {
        std::uint8_t packet[kAnnouncementRecordBytes];
        std::int32_t count = kAnnouncementRecordBytes;
        const int status = readPacket(link, packet, count);  // longer packets are normal here
        const bool longPacket = packetTruncated(link, status);
        if (status != 0 && !longPacket) return blockFailure(link, status);
        const std::uint16_t code = getU16(packet + kCodeOffset);
        if (code == kGoAheadCode) break;
        if (code == kSizeAnnouncementCode) {
            if (longPacket) return kBadNegotiation;
            announcementBytes = count;
            std::memcpy(announcement, packet, static_cast<std::size_t>(count));
        }
        // Packets of any other kind are dropped.
    }

    Reply reply;
    const int status = readReply(link, reply, kNoStartReply);
    if (status != 0) return status;
    if (getU32(reply + kStatusOffset) != kStartReplyStatus) return kNoStartReply;

    // Without an announcement that holds the size word there is no size to use.
    if (announcementBytes < kMaxPacketWordsOffset + kWordBytes) return kBadNegotiation;
    maxPacketWords = getU32(announcement + kMaxPacketWordsOffset);
    if (maxPacketWords < kMinPacketWords || maxPacketWords > kMaxPacketWords) {
        return kBadNegotiation;
    }
    return 0;
}

void reportProgress(const TransferSession& session) {
    if (session.progress == nullptr || session.totalBytes <= 0) return;
    // 64 bits: sentBytes x 100 overflows 32 bits beyond about 21 MB.
    std::int64_t percent = std::int64_t{session.sentBytes} * 100 / session.totalBytes;
    if (percent > 100) percent = 100;
    session.progress(session.context, static_cast<std::int32_t>(percent));
}

void traceBlockProgress(std::int32_t remaining, std::uint32_t blockAddress) {
    if (!debugOutputListened()) return;
    char line[64];
    std::snprintf(line, sizeof line, "%i bytes left for block @%08x\n", remaining, blockAddress);
    debugOutput(std::wstring(line, line + std::strlen(line)));
}

}  // namespace

int sendBlock(TransferSession& session, std::uint32_t address, std::int32_t byteCount,
              const std::uint8_t* data, std::uint32_t flags) {
    PortLink* link = session.link.get();
    // A port failure here shows up at the next read.
    (void)sendCommand(link, kBlockStartCommand, kBlockStartParameter);

    std::uint32_t maxPacketWords = 0;
    int status = negotiate(link, maxPacketWords);
    if (status != 0) return status;

    // Full packets fill the announced size exactly; only the last may be shorter.
    std::vector<std::uint8_t> packet(maxPacketWords * kWordBytes);
    const std::int32_t largestChunk = static_cast<std::int32_t>(packet.size()) - kDataOffset;
    std::uint32_t nextAddress = address;
    const std::uint8_t* source = data;
    std::int32_t remaining = byteCount > 0 ? byteCount : 0;
    Reply reply;
    while (remaining > 0) {
        const std::int32_t chunk = remaining < largestChunk ? remaining : largestChunk;
        std::int32_t packetBytes =
            layOutDataPacket(packet.data(), nextAddress, source, chunk, flags);
        status = writeAll(link, packet.data(), packetBytes);
        if (status != 0) return blockFailure(link, status);
        status = readReply(link, reply, kUnexpectedAcknowledgement);
        if (status != 0) return status;
        switch (getU32(reply + kStatusOffset)) {
            case kDataAccepted:
                break;
            case kDamagedStatus:
                return kPacketDamaged;
            case kRejectedStatus:
                return kPacketRejected;
            default:
                return kUnexpectedAcknowledgement;
        }
        session.sentBytes += chunk;
        nextAddress += static_cast<std::uint32_t>(chunk);
        source += chunk;
        remaining -= chunk;
        reportProgress(session);
        traceBlockProgress(remaining, address);
    }

    std::uint8_t endPacket[kHeaderBytes];
    layOutEndPacket(endPacket);
    std::int32_t endBytes = kHeaderBytes;
    status = writeAll(link, endPacket, endBytes);
    if (status != 0) return blockFailure(link, status);
    status = readReply(link, reply, kUnexpectedAcknowledgement);
    if (status != 0) return status;
    const std::uint32_t endStatus = getU32(reply + kStatusOffset);
    if (getU32(reply + kSubjectOffset) != kEndSubject ||
        (endStatus != kBlockWritten && endStatus != kBlockWrittenToo)) {
        return kUnexpectedAcknowledgement;
    }
    return 0;
}

bool isDeviceFailure(int result) {
    switch (result) {
        case kPacketDamaged:
        case kPacketRejected:
        case kUnexpectedAcknowledgement:
        case kBadNegotiation:
        case kNoStartReply:
        case kTimedOut - kBlockPortErrorOffset:
            return true;
        default:
            return false;
    }
}

int transferImage(const ImageBlock* firstBlock, TransferSession& session, void* context,
                  std::uint32_t flags, ProgressCallback progress) {
    const int status = sendCommand(session.link.get(), kStartCommand, flags);
    if (status != 0) return status;
    session.progress = progress;
    session.context = context;

    std::int64_t total = 0;
    for (const ImageBlock* block = firstBlock; block != nullptr; block = block->next) {
        if (block->byteCount > 0) total += block->byteCount;
    }
    constexpr std::int64_t kMostBytes = std::numeric_limits<std::int32_t>::max();
    session.totalBytes = static_cast<std::int32_t>(total < kMostBytes ? total : kMostBytes);
    session.sentBytes = 0;

    for (const ImageBlock* block = firstBlock; block != nullptr; block = block->next) {
        const int result =
            sendBlock(session, block->targetAddress, block->byteCount, block->data.get(), flags);
        if (result != 0) return result;
    }
    return 0;
}
