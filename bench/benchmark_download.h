// The download both transfer benchmarks measure: a 212 992-byte image in
// 64-word packets, and the bare client's conversation for it, laid out before
// the clock starts.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/image_block.h"
#include "protocol/packet_layout.h"

constexpr std::int32_t kBenchmarkImageBytes = 212992;
constexpr std::int32_t kBenchmarkPacketWords = 64;
constexpr std::uint32_t kBenchmarkAddress = 0x108000;
constexpr std::uint32_t kBenchmarkFlags = 0xA5A50000u;

inline ImageBlock benchmarkImage() {
    ImageBlock image;
    image.targetAddress = kBenchmarkAddress;
    image.byteCount = kBenchmarkImageBytes;
    image.data = std::make_unique<std::uint8_t[]>(kBenchmarkImageBytes);
    for (std::int32_t i = 0; i < kBenchmarkImageBytes; ++i) {
        image.data[i] = static_cast<std::uint8_t>(i * 13);
    }
    return image;
}

// What the bare client writes: the start and block-start commands, then each
// data packet and the end packet, every one answered by a fixed-size reply.
struct BareConversation {
    std::vector<std::uint8_t> opening;
    std::vector<std::vector<std::uint8_t>> packets;
};

inline BareConversation bareConversation(const ImageBlock& image) {
    BareConversation conversation;
    conversation.opening.resize(2 * kHeaderBytes);
    layOutCommand(conversation.opening.data(), kStartCommand, kBenchmarkFlags);
    layOutCommand(conversation.opening.data() + kHeaderBytes, kBlockStartCommand,
                  kBlockStartParameter);
    const std::int32_t chunk = kBenchmarkPacketWords * kWordBytes - kDataOffset;
    for (std::int32_t offset = 0; offset < image.byteCount; offset += chunk) {
        const std::int32_t bytes =
            image.byteCount - offset < chunk ? image.byteCount - offset : chunk;
        std::vector<std::uint8_t> packet(static_cast<std::size_t>(chunk + kDataOffset + 3));
        packet.resize(static_cast<std::size_t>(layOutDataPacket(
            packet.data(), image.targetAddress + static_cast<std::uint32_t>(offset),
            image.data.get() + offset, bytes, kBenchmarkFlags)));
        conversation.packets.push_back(packet);
    }
    std::vector<std::uint8_t> end(kHeaderBytes);
    layOutEndPacket(end.data());
    conversation.packets.push_back(end);
    return conversation;
}

// The device's replies to the opening: an announcement (16 bytes), a go-ahead
// (8) and the start reply (16); every packet after it gets 16.
constexpr std::uint32_t kOpeningReplyBytes = 16 + 8 + 16;
constexpr std::uint32_t kPacketReplyBytes = 16;
