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

TransferResult failed(TransferFailure failure, std::uint32_t deviceStatus = 0) {
    TransferResult result;
    result.failure = failure;
    result.deviceStatus = deviceStatus;
    return result;
}

// The block's failure for a write or read that did not end Ok.
TransferResult linkFailure(const LinkResult& status) {
    switch (status.status) {
        case LinkStatus::PortError: {
            TransferResult result = failed(TransferFailure::PortFailed);
            result.osError = status.osError;
            return result;
        }
        case LinkStatus::Stopped:
            return failed(TransferFailure::Stopped);
        case LinkStatus::Truncated:
            return failed(TransferFailure::BadNegotiation);
        case LinkStatus::TimedOut:
        case LinkStatus::Ok:
            break;
    }
    return failed(TransferFailure::DeviceSilent);
}

// Reads a reply that must be exactly 16 bytes long. A shorter one fails as
// `shortReply`: its missing fields must not be taken from an earlier reply.
TransferResult readReply(PortLink* link, Reply& reply, TransferFailure shortReply) {
    std::memset(reply, 0, sizeof reply);
    std::int32_t count = kAcknowledgementBytes;
    const LinkResult status = readPacket(link, reply, count);
    if (!status.ok()) return linkFailure(status);
    return count < kAcknowledgementBytes ? failed(shortReply) : TransferResult{};
}

// Reads packets until the go-ahead, keeping the last size announcement, then
// the reply that follows the go-ahead. Sets the device's packet size in words.
TransferResult negotiate(PortLink* link, std::uint32_t& maxPacketWords) {
    std::uint8_t announcement[kAnnouncementRecordBytes];
    std::int32_t announcementBytes = 0;  // 0: nothing announced yet
    for (;;) {
        std::uint8_t packet[kAnnouncementRecordBytes];
        std::int32_t count = kAnnouncementRecordBytes;
        const LinkResult status = readPacket(link, packet, count);
        const bool longPacket = status == LinkStatus::Truncated;  // normal here
        if (!status.ok() && !longPacket) return linkFailure(status);
        const std::uint16_t code = getU16(packet + kCodeOffset);
        if (code == kGoAheadCode) break;
        if (code == kSizeAnnouncementCode) {
            if (longPacket) return failed(TransferFailure::BadNegotiation);
            announcementBytes = count;
            std::memcpy(announcement, packet, static_cast<std::size_t>(count));
        }
        // Packets of any other kind are dropped.
    }

    Reply reply;
    const TransferResult status = readReply(link, reply, TransferFailure::NoStartReply);
    if (!status.ok()) return status;
    const std::uint32_t startStatus = getU32(reply + kStatusOffset);
    if (startStatus != kStartReplyStatus) return failed(TransferFailure::NoStartReply, startStatus);

    // Without an announcement that holds the size word there is no size to use.
    if (announcementBytes < kMaxPacketWordsOffset + kWordBytes) {
        return failed(TransferFailure::BadNegotiation);
    }
    maxPacketWords = getU32(announcement + kMaxPacketWordsOffset);
    if (maxPacketWords < kMinPacketWords || maxPacketWords > kMaxPacketWords) {
        return failed(TransferFailure::BadNegotiation);
    }
    return {};
}

// What an acknowledgement's status means for the data packet it answers.
TransferFailure dataPacketVerdict(std::uint32_t status) {
    switch (status) {
        case kDataAccepted:
            return TransferFailure::None;
        case kDamagedStatus:
            return TransferFailure::PacketDamaged;
        case kRejectedStatus:
            return TransferFailure::PacketRejected;
        default:
            return TransferFailure::UnexpectedReply;
    }
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

TransferResult sendBlock(TransferSession& session, std::uint32_t address, std::int32_t byteCount,
                         const std::uint8_t* data, std::uint32_t flags) {
    PortLink* link = session.link.get();
    // A port failure here shows up at the next read.
    (void)sendCommand(link, kBlockStartCommand, kBlockStartParameter);

    std::uint32_t maxPacketWords = 0;
    TransferResult result = negotiate(link, maxPacketWords);
    if (!result.ok()) return result;

    // Full packets fill the announced size exactly; only the last may be shorter.
    std::vector<std::uint8_t> packet(maxPacketWords * kWordBytes);
    const std::int32_t largestChunk = static_cast<std::int32_t>(packet.size()) - kDataOffset;
    std::uint32_t nextAddress = address;
    const std::uint8_t* source = data;
    std::int32_t remaining = byteCount > 0 ? byteCount : 0;
    Reply reply;
    while (remaining > 0) {
        ++session.sentPackets;
        const std::int32_t chunk = remaining < largestChunk ? remaining : largestChunk;
        std::int32_t packetBytes =
            layOutDataPacket(packet.data(), nextAddress, source, chunk, flags);
        const LinkResult written = writeAll(link, packet.data(), packetBytes);
        result = written.ok() ? readReply(link, reply, TransferFailure::UnexpectedReply)
                              : linkFailure(written);
        if (result.ok()) {
            const std::uint32_t status = getU32(reply + kStatusOffset);
            result = failed(dataPacketVerdict(status), status);
        }
        if (!result.ok()) {
            result.packet = session.sentPackets;
            return result;
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
    const LinkResult written = writeAll(link, endPacket, endBytes);
    if (!written.ok()) return linkFailure(written);
    result = readReply(link, reply, TransferFailure::UnexpectedReply);
    if (!result.ok()) return result;
    const std::uint32_t endStatus = getU32(reply + kStatusOffset);
    if (getU32(reply + kSubjectOffset) != kEndSubject ||
        (endStatus != kBlockWritten && endStatus != kBlockWrittenToo)) {
        return failed(TransferFailure::UnexpectedReply, endStatus);
    }
    return {};
}

int displayCode(const TransferResult& result) {
    switch (result.failure) {
        case TransferFailure::None:
            return 0;
        case TransferFailure::StartNotSent:
            return result.osError;
        case TransferFailure::PortFailed:
            return result.osError - kBlockPortErrorOffset;
        case TransferFailure::DeviceSilent:
        case TransferFailure::Stopped:
            return kDeviceSilentCode;
        case TransferFailure::PacketDamaged:
            return kPacketDamaged;
        case TransferFailure::PacketRejected:
            return kPacketRejected;
        case TransferFailure::UnexpectedReply:
            return kUnexpectedAcknowledgement;
        case TransferFailure::BadNegotiation:
            return kBadNegotiation;
        case TransferFailure::NoStartReply:
            return kNoStartReply;
    }
    return kUnexpectedAcknowledgement;
}

std::optional<TransferResult> transferResultOfCode(int code, bool portFailed) {
    if (code == 0) return TransferResult{};
    if (portFailed) {
        TransferResult result;
        result.failure = code > 0 ? TransferFailure::StartNotSent : TransferFailure::PortFailed;
        result.osError = code > 0 ? code : code + kBlockPortErrorOffset;
        if (result.osError <= 0) return std::nullopt;
        return result;
    }
    const std::uint32_t notKnown = TransferResult::kStatusNotKnown;
    switch (code) {
        case kDeviceSilentCode:
            return failed(TransferFailure::DeviceSilent);
        case kPacketDamaged:
            return failed(TransferFailure::PacketDamaged);
        case kPacketRejected:
            return failed(TransferFailure::PacketRejected);
        case kUnexpectedAcknowledgement:
            return failed(TransferFailure::UnexpectedReply, notKnown);
        case kBadNegotiation:
            return failed(TransferFailure::BadNegotiation);
        case kNoStartReply:
            return failed(TransferFailure::NoStartReply, notKnown);
    }
    return std::nullopt;
}

TransferResult transferImage(const ImageBlock* firstBlock, TransferSession& session, void* context,
                             std::uint32_t flags, ProgressCallback progress) {
    const LinkResult started = sendCommand(session.link.get(), kStartCommand, flags);
    if (!started.ok()) {
        TransferResult result = linkFailure(started);
        if (result.failure == TransferFailure::PortFailed) {
            result.failure = TransferFailure::StartNotSent;
        }
        return result;
    }
    session.progress = progress;
    session.context = context;

    std::int64_t total = 0;
    for (const ImageBlock* block = firstBlock; block != nullptr; block = block->next) {
        if (block->byteCount > 0) total += block->byteCount;
    }
    constexpr std::int64_t kMostBytes = std::numeric_limits<std::int32_t>::max();
    session.totalBytes = static_cast<std::int32_t>(total < kMostBytes ? total : kMostBytes);
    session.sentBytes = 0;
    session.sentPackets = 0;

    for (const ImageBlock* block = firstBlock; block != nullptr; block = block->next) {
        const TransferResult result =
            sendBlock(session, block->targetAddress, block->byteCount, block->data.get(), flags);
        if (!result.ok()) return result;
    }
    return {};
}
