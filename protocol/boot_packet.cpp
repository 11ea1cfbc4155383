#include "protocol/boot_packet.h"

#include <cstring>

#include "platform/platform.h"
#include "serial/serial_port.h"

namespace {

// Reads packet bytes into the receive area until `target` bytes of the packet
// have arrived. Bytes beyond the buffer are read into scratch space and dropped,
// so an oversized packet is consumed whole and the next one starts in step.
// `idleSince` is when a byte last arrived; it moves with every byte.
LinkResult receivePacketBytes(PortLink* link, std::int32_t target, std::uint32_t& idleSince) {
    ReceiveArea& receiveArea = link->receiveArea;
    std::uint8_t overflow[kReceiveBufferBytes];
    while (receiveArea.bytesReceived < target) {
        std::uint8_t* into;
        std::int32_t wanted;
        if (receiveArea.bytesReceived < kReceiveBufferBytes) {
            into = receiveArea.buffer + receiveArea.bytesReceived;
            const std::int32_t end = target < kReceiveBufferBytes ? target : kReceiveBufferBytes;
            wanted = end - receiveArea.bytesReceived;
        } else {
            into = overflow;
            const std::int32_t rest = target - receiveArea.bytesReceived;
            wanted = rest < kReceiveBufferBytes ? rest : kReceiveBufferBytes;
        }
        std::uint32_t received = static_cast<std::uint32_t>(wanted);
        const LinkResult status = readWithin(link, into, received, idleSince, kPacketIdleLimitMs);
        if (!status.ok()) return status;
        if (received > 0) {
            receiveArea.bytesReceived += static_cast<std::int32_t>(received);
            idleSince = tickCount();
        } else if (ticksSince(idleSince) > kPacketIdleLimitMs) {
            return {LinkStatus::TimedOut};
        }
    }
    return {};
}

}  // namespace

LinkResult sendCommand(PortLink* link, std::uint16_t code, std::uint32_t parameter) {
    std::uint8_t packet[kHeaderBytes];
    layOutCommand(packet, code, parameter);
    std::int32_t count = kHeaderBytes;
    return writeAll(link, packet, count);
}

LinkResult queryBootVersion(PortLink* link, std::uint32_t& version, std::uint32_t limitMs) {
    std::uint8_t request[kHeaderBytes];
    layOutVersionRequest(request);
    std::int32_t count = kHeaderBytes;
    const LinkResult status = writeAll(link, request, count);
    if (!status.ok()) return status;

    const std::uint32_t start = tickCount();
    for (;;) {
        // Replies come in fixed 8-byte frames; one of another kind is dropped whole.
        std::uint8_t frame[kHeaderBytes];
        std::uint32_t framed = 0;
        while (framed < kHeaderBytes) {
            if (ticksSince(start) > limitMs) return {LinkStatus::TimedOut};
            std::uint32_t received = kHeaderBytes - framed;
            const LinkResult readStatus =
                readWithin(link, frame + framed, received, start, limitMs);
            if (!readStatus.ok()) return readStatus;
            framed += received;
        }
        if (getU16(frame) == kVersionTag && getU16(frame + kCodeOffset) == kVersionCode) {
            version = getU32(frame + kVersionOffset);
            return {};
        }
        if (ticksSince(start) > limitMs) return {LinkStatus::TimedOut};
    }
}

LinkResult readPacket(PortLink* link, void* destination, std::int32_t& count) {
    const std::int32_t capacity = count > 0 ? count : 0;
    count = 0;
    ReceiveArea& receiveArea = link->receiveArea;
    receiveArea.bytesReceived = 0;
    receiveArea.packetLength = 0;

    std::uint32_t idleSince = tickCount();
    LinkResult status = receivePacketBytes(link, kHeaderBytes, idleSince);
    if (!status.ok()) return status;

    const std::int32_t length =
        receiveArea.buffer[0] == kHeaderOnlyMarker
            ? kHeaderBytes
            : kHeaderBytes + kWordBytes * getU16(receiveArea.buffer + kLengthOffset);
    status = receivePacketBytes(link, length, idleSince);
    if (!status.ok()) return status;
    receiveArea.packetLength = length;

    const std::int32_t held = length < kReceiveBufferBytes ? length : kReceiveBufferBytes;
    const std::int32_t copied = capacity < held ? capacity : held;
    if (copied > 0) std::memcpy(destination, receiveArea.buffer, static_cast<std::size_t>(copied));
    count = copied;
    return length > copied ? LinkResult{LinkStatus::Truncated} : LinkResult{};
}
