// Boot packet I/O against a scripted peer: commands on the wire, framing of
// received packets, the version query and the time limits.
#include "protocol/boot_packet.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "tests/protocol/device_packets.h"
#include "tests/protocol/test_clock.h"

namespace {

using BootPacketTest = PeerPortTest;

constexpr std::uint32_t kNearWrap = 0xFFFFF000u;  // the tick count wraps during the wait

TEST_F(BootPacketTest, CommandsGoOutWholeAndTraced) {
    DebugCapture trace;
    EXPECT_EQ(sendCommand(&link, kStartCommand, 0xA5A50000), LinkStatus::Ok);
    EXPECT_EQ(sendCommand(&link, kBlockStartCommand, kBlockStartParameter), LinkStatus::Ok);
    EXPECT_EQ(peer.receive(16), (Bytes{0x01, 0x00, 0x0e, 0x00, 0x00, 0x00, 0xa5, 0xa5, 0x01, 0x00,
                                       0x00, 0xf0, 0x01, 0x00, 0x00, 0x00}));
    ASSERT_FALSE(trace.lines().empty());
    EXPECT_EQ(trace.lines()[0], L"Tx : 01 00 0e 00 00 00 a5 a5 \n");
}

TEST_F(BootPacketTest, WriteAllReportsWhatWentOut) {
    const Bytes payload(600, 0x42);
    std::int32_t count = 600;
    EXPECT_EQ(writeAll(&link, payload.data(), count), LinkStatus::Ok);
    EXPECT_EQ(count, 600);
    EXPECT_EQ(peer.receive(600), payload);

    count = 0;
    EXPECT_EQ(writeAll(&link, payload.data(), count), LinkStatus::Ok);
    EXPECT_EQ(count, 0);
    count = -3;
    EXPECT_EQ(writeAll(&link, payload.data(), count), LinkStatus::Ok);
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(peer.receiveAvailable().empty());
}

TEST_F(BootPacketTest, WriteTheDeviceDoesNotDrainEndsByTheStallLimitOrTheStopFlag) {
    const Bytes flood(1024 * 1024,
                      0x55);  // far more than the terminal holds; the peer reads nothing
    std::int32_t count = static_cast<std::int32_t>(flood.size());
    {
        ScriptedClock clock(kNearWrap, 5000);  // 5 s per reading: the stall limit passes at once
        EXPECT_EQ(writeAll(&link, flood.data(), count), LinkStatus::TimedOut);
    }
    EXPECT_GT(count, 0);
    EXPECT_LT(count, static_cast<std::int32_t>(flood.size()));

    std::atomic<bool> stop{false};
    link.stop = &stop;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    count = static_cast<std::int32_t>(flood.size());
    EXPECT_EQ(writeAll(&link, flood.data(), count), LinkStatus::Stopped);  // long before 20 s
    stopper.join();
}

TEST_F(BootPacketTest, FailedWritesReturnTheOsError) {
    SerialPort broken;  // never opened
    PortLink brokenLink{&broken};
    const Bytes payload(8, 0);
    std::int32_t count = 8;
    EXPECT_EQ(writeAll(&brokenLink, payload.data(), count), LinkStatus::PortError);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(sendCommand(&brokenLink, kStartCommand, 0), LinkStatus::PortError);
    std::uint32_t version = 77;
    EXPECT_EQ(queryBootVersion(&brokenLink, version), LinkStatus::PortError);
    EXPECT_EQ(version, 77u);
}

// --- framing -------------------------------------------------------------

TEST_F(BootPacketTest, HeaderArrivingOneByteAtATimeMakesOnePacket) {
    const Bytes packet = acknowledgement(2, 9);
    DebugCapture trace;  // one "Rx : " line per read that returned bytes
    auto trickle = std::async(std::launch::async, [&] {
        for (std::size_t sent = 0; sent < packet.size(); ++sent) {
            if (!peer.send(Bytes{packet[sent]})) return false;
            // The next byte goes only once the tool has read this one.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (trace.lines().size() <= sent) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return true;
    });
    std::uint8_t destination[16] = {};
    std::int32_t count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Ok);
    EXPECT_TRUE(trickle.get());
    EXPECT_EQ(trace.lines().size(), packet.size());
    EXPECT_EQ(count, 16);
    EXPECT_EQ(Bytes(destination, destination + 16), packet);
    EXPECT_EQ(link.receiveArea.packetLength, 16);
}

TEST_F(BootPacketTest, AtSignPacketIsTheHeaderAlone) {
    Bytes atPacket = devicePacket(0x300B, 5);  // length field 5, but framed as 8 bytes
    atPacket[0] = 0x40;
    deliver(atPacket);  // the 20 bytes "behind" it stay for the next read
    std::uint8_t destination[16];
    std::int32_t count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Ok);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(link.receiveArea.packetLength, 8);
    EXPECT_EQ(peer.queuedForTool(), 20u);
}

TEST_F(BootPacketTest, LengthZeroIsAnEightBytePacket) {
    deliver(joined({goAhead(), dataAck()}));
    std::uint8_t destination[16];
    std::int32_t count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Ok);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(peer.queuedForTool(), 16u);
}

TEST_F(BootPacketTest, PacketLongerThanTheDestination) {
    const Bytes ack = acknowledgement(2, 10);
    deliver(joined({ack, ack}));
    std::uint8_t destination[16] = {};
    std::int32_t count = 8;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Truncated);
    EXPECT_EQ(count, 8);
    EXPECT_EQ(link.receiveArea.packetLength, 16);
    EXPECT_EQ(Bytes(link.receiveArea.buffer, link.receiveArea.buffer + 16), ack);
    EXPECT_EQ(destination[8], 0);  // nothing copied past the capacity

    count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Ok);
    EXPECT_EQ(count, 16);
    EXPECT_EQ(Bytes(destination, destination + 16), ack);
}

TEST_F(BootPacketTest, OversizedPacketIsConsumedWithoutOverrunningTheBuffer) {
    // 300 words announced: 1208 bytes, far beyond the 256-byte receive buffer.
    Bytes oversized = devicePacket(0x300B, 300);
    for (std::size_t i = 8; i < oversized.size(); ++i) oversized[i] = static_cast<std::uint8_t>(i);
    const Bytes next = acknowledgement(1, 0);
    deliver(joined({oversized, next}));

    std::uint8_t destination[2000] = {};
    std::int32_t count = sizeof destination;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Truncated);
    EXPECT_EQ(count, kReceiveBufferBytes);
    EXPECT_EQ(link.receiveArea.packetLength, 1208);
    EXPECT_EQ(Bytes(destination, destination + 256),
              Bytes(oversized.begin(), oversized.begin() + 256));
    EXPECT_EQ(destination[256], 0);

    count = 16;  // the stream is still in step: the next read is the next packet
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Ok);
    EXPECT_EQ(Bytes(destination, destination + 16), next);
    EXPECT_EQ(peer.queuedForTool(), 0u);
}

TEST_F(BootPacketTest, FailedReadReportsTheOsErrorApart) {
    SerialPort broken;
    PortLink brokenLink{&broken};
    std::uint8_t destination[16];
    std::int32_t count = 16;
    const LinkResult result = readPacket(&brokenLink, destination, count);
    EXPECT_EQ(result, LinkStatus::PortError);
    EXPECT_GT(result.osError, 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(brokenLink.receiveArea.packetLength, 0);
}

TEST_F(BootPacketTest, SilentDeviceTimesOutAcrossTheTickWrap) {
    deliver(Bytes{0x01, 0x02, 0x03});  // a header that never completes
    ScriptedClock clock(kNearWrap, 7);
    std::uint8_t destination[16];
    std::int32_t count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::TimedOut);
    EXPECT_EQ(count, 0);
    const std::uint32_t waited = clock.now() - kNearWrap;
    EXPECT_GT(waited, kPacketIdleLimitMs);
    EXPECT_LT(waited, kPacketIdleLimitMs + 100);
}

TEST_F(BootPacketTest, StopFlagEndsAWaitForASilentDevice) {
    std::atomic<bool> stop{false};
    link.stop = &stop;
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop = true;
    });
    std::uint8_t destination[16];
    std::int32_t count = 16;
    EXPECT_EQ(readPacket(&link, destination, count), LinkStatus::Stopped);  // long before 20 s
    stopper.join();
}

// A clock that moves 7 s per reading and hands the tool one more byte of
// `bytes` every third reading, so bytes come 14-21 s of clock time apart.
struct TricklingClock {
    static std::uint32_t read() {
        const std::uint32_t value = now;
        now += 7000;
        if (readings++ % 3 == 0 && next < bytes.size()) {
            peer->send(Bytes{bytes[next++]});
            peer->waitUntilQueuedForTool(1);
        }
        return value;
    }
    static inline PtyPeer* peer = nullptr;
    static inline Bytes bytes;
    static inline std::size_t next = 0;
    static inline std::uint32_t now = 0;
    static inline std::uint32_t readings = 0;
};

TEST_F(BootPacketTest, SlowButSteadyPacketIsNotTimedOut) {
    // Never 20 s without a byte, although the whole packet takes far longer.
    TricklingClock::peer = &peer;
    TricklingClock::bytes = dataAck();
    TricklingClock::next = 0;
    TricklingClock::readings = 0;
    TricklingClock::now = kNearWrap;
    setTickSource(&TricklingClock::read);
    std::uint8_t destination[16];
    std::int32_t count = 16;
    const LinkResult result = readPacket(&link, destination, count);
    setTickSource(nullptr);
    EXPECT_EQ(result, LinkStatus::Ok);
    EXPECT_EQ(Bytes(destination, destination + count), dataAck());
    EXPECT_GT(TricklingClock::now - kNearWrap, 10 * kPacketIdleLimitMs);
}

// --- version query ---------------------------------------------------------

TEST_F(BootPacketTest, VersionQuerySkipsAFrameOfAnotherKind) {
    peer.runScript(
        {{8, joined({devicePacket(0x000e, 0), Bytes{0, 0, 0x0f, 0, 0x04, 0x03, 0x02, 0x01}})}});
    std::uint32_t version = 0;
    EXPECT_EQ(queryBootVersion(&link, version), LinkStatus::Ok);
    EXPECT_EQ(version, 0x01020304u);
    const PtyPeer::ScriptOutcome outcome = peer.finishScript();
    EXPECT_EQ(outcome.received, (Bytes{0x00, 0x00, 0x0f, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(BootPacketTest, VersionQueryGivesUpAfterTheLimitWithAPartialFrame) {
    deliver(Bytes{0, 0, 0x0f, 0, 1, 2, 3});
    ScriptedClock clock(kNearWrap, 3);
    std::uint32_t version = 0;
    EXPECT_EQ(queryBootVersion(&link, version), LinkStatus::TimedOut);
    const std::uint32_t waited = clock.now() - kNearWrap;
    EXPECT_GT(waited, kBootVersionLimitMs);
    EXPECT_LT(waited, kBootVersionLimitMs + 50);
}

}  // namespace
