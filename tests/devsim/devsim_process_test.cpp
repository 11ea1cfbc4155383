// The simulator as a running process, driven with raw bytes through its port.
#include "tests/support/devsim_process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/devsim/device_client.h"

namespace {

using Clock = std::chrono::steady_clock;

bool linkExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Reads a packet framed by its length field (8 + 4 × the u16 at offset 4).
ByteString receivePacket(DeviceClient& client) {
    ByteString packet = client.receive(8);
    if (packet.size() < 8) return packet;
    const ByteString rest = client.receive(4 * std::size_t{u16At(packet, 4)});
    packet.insert(packet.end(), rest.begin(), rest.end());
    return packet;
}

// Reads the negotiation up to the go-ahead; returns the last announced size.
std::uint32_t negotiate(DeviceClient& client) {
    std::uint32_t words = 0;
    for (int packets = 0; packets < 100; ++packets) {
        const ByteString packet = receivePacket(client);
        if (packet.size() < 8) return 0;
        if (u16At(packet, 2) == 0x300B) words = u32At(packet, 8);
        if (u16At(packet, 2) == 1) break;
    }
    const ByteString reply = client.receive(16);
    EXPECT_EQ(u32At(reply, 12), 14u);
    return words;
}

TEST(DevsimProcess, ApplicationAnswersTheConsoleAndIgnoresBinaryRequests) {
    DevsimProcess sim({"--app-version", "bl-7.0"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());

    client.send(kVersionRequest);
    client.send("~xyz\r\n");
    EXPECT_TRUE(client.receive(1, 150).empty());
    client.send("~rv\r\n");
    EXPECT_EQ(client.receive(15), textBytes("~Rv0000bl-7.0\r\n"));
    EXPECT_TRUE(sim.waitForTranscript("app rx ~rv\n"));
}

TEST(DevsimProcess, BootSwitchWithVanishRecreatesThePortInTheBootLoader) {
    DevsimProcess sim({"--boot-delay", "20", "--vanish", "150"});
    ASSERT_TRUE(sim.started());
    {
        DeviceClient client(sim.linkPath());
        client.send("~dboot\r\n");
        EXPECT_EQ(client.receive(8), textBytes("~Dboot\r\n"));
        ASSERT_TRUE(sim.waitForTranscript("vanish"));
    }
    EXPECT_FALSE(linkExists(sim.linkPath()));
    ASSERT_TRUE(sim.waitForTranscript("appear"));
    DeviceClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());
    client.send(kVersionRequest);
    const ByteString version = client.receive(8);
    EXPECT_EQ(u32At(version, 4), 0x12340AFFu);
    EXPECT_EQ(sim.transcript().find("app rx ~dboot\napp tx ~Dboot\nrestarting\nvanish\nmode boot"),
              sim.transcript().find("app rx ~dboot"));
}

TEST(DevsimProcess, WritesATwoPacketBlockIntoTheFlashFile) {
    DevsimProcess sim({"--start", "boot", "--announce", "64,8", "--noise", "3"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    client.send(command(14, 0xA5A50000));
    client.send(command(0xF000, 1));
    ASSERT_EQ(negotiate(client), 8u);

    const ByteString first{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const ByteString second{13, 14, 15, 16, 17};
    client.send(dataPacket(0x108000, first));
    EXPECT_EQ(u32At(client.receive(16), 12), 0u);
    client.send(dataPacket(0x10800C, second));
    EXPECT_EQ(u32At(client.receive(16), 12), 0u);
    client.send(kEndPacket);
    const ByteString endAck = client.receive(16);
    EXPECT_EQ(u32At(endAck, 8), 2u);
    EXPECT_EQ(u32At(endAck, 12), 9u);

    ByteString image = first;
    image.insert(image.end(), second.begin(), second.end());
    EXPECT_EQ(sim.flash(), image);
    EXPECT_NE(sim.transcript().find("boot rx data addr=0010800c bytes=5 ok"), std::string::npos);
}

TEST(DevsimProcess, AdapterLatencyHoldsAShortReplyBackForItsTimer) {
    constexpr int kAdapterLatencyMs = 100;
    DevsimProcess sim({"--start", "boot", "--adapter-latency", std::to_string(kAdapterLatencyMs)});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    client.send(command(14, 0));
    client.send(command(0xF000, 1));
    ASSERT_EQ(negotiate(client), 64u);

    const auto sent = Clock::now();
    client.send(dataPacket(0x108000, ByteString(12, 3)));
    EXPECT_TRUE(client.receive(1, kAdapterLatencyMs / 2).empty()) << "arrived at once";
    const ByteString ack = client.receive(16);
    const auto waited =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    ASSERT_EQ(ack.size(), 16u);
    EXPECT_EQ(u32At(ack, 12), 0u);
    EXPECT_GE(waited, kAdapterLatencyMs);
    EXPECT_LT(waited, 10 * kAdapterLatencyMs);
}

TEST(DevsimProcess, BadChecksumIsAcknowledgedWithStatus2) {
    DevsimProcess sim({"--start", "boot"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    client.send(command(14, 0));
    client.send(command(0xF000, 1));
    ASSERT_EQ(negotiate(client), 64u);
    ByteString packet = dataPacket(0x108000, {1, 2, 3});
    packet[12] ^= 0x80;
    client.send(packet);
    EXPECT_EQ(u32At(client.receive(16), 12), 2u);
    EXPECT_TRUE(sim.waitForTranscript("bad checksum"));
}

TEST(DevsimProcess, RefusesADataPacketThatStopsShortOnceTheLineGoesQuiet) {
    DevsimProcess sim({"--start", "boot"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    client.send(command(14, 0));
    client.send(command(0xF000, 1));
    ASSERT_EQ(negotiate(client), 64u);
    const ByteString packet = dataPacket(0x108000, ByteString(40, 7));
    client.send(ByteString(packet.begin(), packet.end() - 4));
    EXPECT_EQ(u32At(client.receive(16, 2000), 12), 5u);
    client.send(packet);
    EXPECT_EQ(u32At(client.receive(16), 12), 0u);
}

TEST(DevsimProcess, ControlFileRemovesRestoresAndReconfiguresTheDevice) {
    DevsimProcess sim({"--start", "boot"});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(sim.control("vanish"));
    EXPECT_FALSE(linkExists(sim.linkPath()));
    ASSERT_TRUE(sim.control("appear"));
    ASSERT_TRUE(linkExists(sim.linkPath()));

    ASSERT_TRUE(sim.control("mode app"));
    {
        DeviceClient client(sim.linkPath());
        client.send("~rv\r\n");
        EXPECT_EQ(client.receive(14), textBytes("~Rv00001.2.3\r\n"));
    }
    ASSERT_TRUE(sim.control("fault refuse-boot"));
    DeviceClient client(sim.linkPath());  // a second open: the port survived the first close
    client.send("~dboot\r\n");
    EXPECT_EQ(client.receive(8), textBytes("~dBOOT\r\n"));
    ASSERT_TRUE(sim.control("fault silent"));
    client.send("~rv\r\n");
    EXPECT_TRUE(client.receive(1, 150).empty());
}

TEST(DevsimProcess, BoardsAreTakenAwayAndPlacedOnTheSlot) {
    DevsimProcess sim({"--start", "none"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());
    client.send("~rv\r\n");
    client.send(kVersionRequest);
    EXPECT_TRUE(client.receive(1, 150).empty());

    ASSERT_TRUE(sim.control("place boot 0x01020304"));
    client.send(kVersionRequest);
    EXPECT_EQ(u32At(client.receive(8), 4), 0x01020304u);
    client.send(command(14, 0));
    client.send(command(0xF000, 1));
    ASSERT_EQ(negotiate(client), 64u);
    const ByteString data{1, 2, 3, 4, 5, 6, 7};
    client.send(dataPacket(0x108000, data));
    EXPECT_EQ(u32At(client.receive(16), 12), 0u);
    client.send(kEndPacket);
    EXPECT_EQ(u32At(client.receive(16), 12), 9u);
    EXPECT_EQ(sim.flash(2), data);

    ASSERT_TRUE(sim.control("remove"));
    client.send(kVersionRequest);
    EXPECT_TRUE(client.receive(1, 150).empty());

    ASSERT_TRUE(sim.control("place app x-1"));
    client.send("~rv\r\n");
    EXPECT_EQ(client.receive(12), textBytes("~Rv0000x-1\r\n"));

    ASSERT_TRUE(sim.control("remove unplug"));
    EXPECT_FALSE(linkExists(sim.linkPath()));
    ASSERT_TRUE(sim.control("place"));
    DeviceClient next(sim.linkPath());
    ASSERT_TRUE(next.isOpen());
    next.send("~rv\r\n");
    EXPECT_EQ(next.receive(14), textBytes("~Rv00001.2.3\r\n"));

    EXPECT_EQ(sim.flash(2), data);  // the later boards left board 2's file alone
    EXPECT_TRUE(sim.flash(3).empty());
    EXPECT_TRUE(sim.waitForTranscript("place board 4\n"));
}

TEST(DevsimProcess, AGlitchLeavesTheSameBoardInItsProgramWithItsFlash) {
    DevsimProcess sim({"--start", "boot"});
    ASSERT_TRUE(sim.started());
    const ByteString data{1, 2, 3, 4, 5};
    {
        DeviceClient client(sim.linkPath());
        client.send(command(14, 0));
        client.send(command(0xF000, 1));
        ASSERT_EQ(negotiate(client), 64u);
        client.send(dataPacket(0x108000, data));
        EXPECT_EQ(u32At(client.receive(16), 12), 0u);
        client.send(kEndPacket);
        EXPECT_EQ(u32At(client.receive(16), 12), 9u);
    }
    ASSERT_TRUE(sim.control("glitch 150"));
    EXPECT_FALSE(linkExists(sim.linkPath()));
    ASSERT_TRUE(sim.waitForTranscript("appear\n"));
    DeviceClient client(sim.linkPath());
    ASSERT_TRUE(client.isOpen());
    client.send(kVersionRequest);
    EXPECT_EQ(u32At(client.receive(8), 4), 0x12340AFFu);  // still the boot loader

    ASSERT_TRUE(sim.control("glitch 300 silent"));
    client.send(kVersionRequest);
    EXPECT_TRUE(client.receive(1, 150).empty());
    ASSERT_TRUE(sim.waitForTranscript("glitch over\n"));
    client.send(kVersionRequest);
    EXPECT_EQ(u32At(client.receive(8), 4), 0x12340AFFu);

    sim.stop();
    EXPECT_EQ(sim.flash(), data);
    EXPECT_NE(sim.transcript().find("glitch: 8 bytes dropped"), std::string::npos);
    EXPECT_EQ(sim.transcript().find("place board"), std::string::npos);
}

TEST(DevsimProcess, PacesRepliesAtTheBaudRateAfterTheLatency) {
    // 1000 baud: 10 ms per byte, so the 8-byte request and reply take 80 ms each.
    DevsimProcess sim({"--start", "boot", "--baud", "1000", "--latency", "50"});
    ASSERT_TRUE(sim.started());
    DeviceClient client(sim.linkPath());
    const auto sent = Clock::now();
    client.send(kVersionRequest);
    EXPECT_EQ(client.receive(8).size(), 8u);
    const auto elapsed = Clock::now() - sent;
    EXPECT_GE(elapsed, std::chrono::milliseconds(80 + 50 + 80));
}

TEST(DevsimProcess, StopsCleanlyOnSigtermAndRemovesItsPort) {
    DevsimProcess sim({"--start", "boot"});
    ASSERT_TRUE(sim.started());
    sim.stop();
    EXPECT_FALSE(linkExists(sim.linkPath()));
    EXPECT_NE(sim.transcript().find("exit"), std::string::npos);
}

}  // namespace
