// The simulator's parts on their own: checksum, fault texts, flash model, line
// timing, options, and the boot loader's verification fed with bytes directly.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "tests/devsim/device_client.h"
#include "tools/devsim/app_firmware.h"
#include "tools/devsim/boot_loader.h"
#include "tools/devsim/crc32.h"
#include "tools/devsim/faults.h"
#include "tools/devsim/flash_model.h"
#include "tools/devsim/line_pacer.h"
#include "tools/devsim/options.h"

namespace {

using devsim::FaultKind;

TEST(DevsimChecksum, MatchesTheCheckValuesAndTheDocumentedPackets) {
    const std::string check = "123456789";
    EXPECT_EQ(devsim::crc32Update(0, reinterpret_cast<const std::uint8_t*>(check.data()), 9),
              0x89A1897Fu);
    EXPECT_EQ(devsim::crc32Update(0, nullptr, 0), 0u);
    EXPECT_EQ(dataPacket(0x108000, {1, 2, 3, 4, 5}),
              (ByteString{0x0d, 0xf0, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0x80,
                          0x10, 0x00, 0x98, 0x2c, 0x74, 0xfb, 0x06, 0x00, 0x00, 0x00,
                          0x01, 0x02, 0x03, 0x04, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(dataPacket(0x13C000, textBytes("abc")),
              (ByteString{0x0d, 0xf0, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0xc0, 0x13, 0x00,
                          0x6f, 0x7a, 0xc2, 0x72, 0x02, 0x00, 0x00, 0x00, 0x61, 0x62, 0x63, 0x00}));
}

TEST(DevsimFaults, ParsesEveryArgumentFormAndRejectsMalformedSpecs) {
    devsim::Fault fault;
    std::string error;
    ASSERT_TRUE(devsim::parseFault("data-status=0x7@3,once", fault, error)) << error;
    EXPECT_EQ(fault.kind, FaultKind::DataStatus);
    EXPECT_EQ(fault.value, 7u);
    EXPECT_EQ(fault.packet, 3u);
    EXPECT_TRUE(fault.once);
    ASSERT_TRUE(devsim::parseFault("goahead-status=15", fault, error));
    EXPECT_EQ(fault.value, 15u);
    ASSERT_TRUE(devsim::parseFault("hangup@2", fault, error));
    EXPECT_EQ(fault.packet, 2u);
    EXPECT_FALSE(fault.once);

    for (const char* bad : {"data-status=2", "data-status@1", "hangup@0", "silent=1", "bogus",
                            "end-status=", "end-status=-1", "short-ack@x", "refuse-boot,twice"}) {
        EXPECT_FALSE(devsim::parseFault(bad, fault, error)) << bad;
    }
}

TEST(DevsimFaults, OnceLimitsDownloadFaultsToTheFirstDownloadAndDeviceFaultsToOneUse) {
    devsim::FaultSet faults;
    std::string error;
    ASSERT_TRUE(faults.replace("data-status=2@1,once end-status=10 refuse-boot,once", error));
    EXPECT_NE(faults.forDownload(FaultKind::DataStatus, 1, 1), nullptr);
    EXPECT_EQ(faults.forDownload(FaultKind::DataStatus, 1, 2), nullptr);
    EXPECT_EQ(faults.forDownload(FaultKind::DataStatus, 2, 1), nullptr);
    EXPECT_NE(faults.forDownload(FaultKind::EndStatus, 5), nullptr);
    EXPECT_TRUE(faults.fire(FaultKind::RefuseBoot));
    EXPECT_FALSE(faults.fire(FaultKind::RefuseBoot));

    EXPECT_FALSE(faults.replace("silent bogus", error));
    EXPECT_NE(faults.forDownload(FaultKind::EndStatus, 1), nullptr)
        << "a bad fault text keeps the old set";
    ASSERT_TRUE(faults.replace("", error));
    EXPECT_EQ(faults.forDownload(FaultKind::EndStatus, 1), nullptr);
}

TEST(DevsimFlash, FillsGapsWithErasedBytesAndRefusesWritesOutOfBounds) {
    devsim::FlashModel flash;
    const std::uint8_t low[] = {0xAA};
    const std::uint8_t data[] = {1, 2, 3};
    ASSERT_TRUE(flash.write(0x107FFF, low, 1));  // below the base: not in the file
    ASSERT_TRUE(flash.write(0x108002, data, 3));
    ASSERT_TRUE(flash.write(0x108FFE, data, 3));  // crosses a page boundary
    const auto contents = flash.contents(0x108000);
    ASSERT_EQ(contents.size(), 0x1001u);
    EXPECT_EQ(contents[0], 0xFF);
    EXPECT_EQ(contents[2], 1);
    EXPECT_EQ(contents[4], 3);
    EXPECT_EQ(contents[5], 0xFF);
    EXPECT_EQ(contents[0xFFE], 1);
    EXPECT_EQ(contents[0x1000], 3);

    EXPECT_FALSE(flash.write(0xFFFFFFFE, data, 3));
    const std::vector<std::uint8_t> huge((devsim::FlashModel::kMaxPages + 1) *
                                         devsim::FlashModel::kPageSize);
    EXPECT_FALSE(flash.write(0x10000000, huge.data(), huge.size()));
    EXPECT_EQ(flash.contents(0x108000).size(), 0x1001u);
}

TEST(DevsimLinePacer, HoldsBytesForTheirWireTimeAndRepliesForTheLatency) {
    devsim::LinePacer pacer(10000, 5);  // 1 ms per byte
    constexpr devsim::Nanos ms = 1'000'000;
    const std::uint8_t in[] = {1, 2, 3};
    pacer.received(in, 3, 0);
    std::vector<std::uint8_t> arrived;
    pacer.takeArrived(2 * ms, arrived);
    EXPECT_EQ(arrived, (std::vector<std::uint8_t>{1, 2}));
    pacer.takeArrived(3 * ms, arrived);
    EXPECT_EQ(arrived.size(), 3u);

    pacer.send({7, 8}, 10 * ms);
    pacer.send({9}, 10 * ms);
    std::vector<std::uint8_t> out;
    pacer.takeDue(15 * ms, out);
    EXPECT_TRUE(out.empty()) << "latency first, then one byte time";
    EXPECT_EQ(pacer.nextWake(), 16 * ms);
    pacer.takeDue(17 * ms, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{7, 8}));
    pacer.takeDue(18 * ms, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{7, 8, 9}));
    EXPECT_TRUE(pacer.outputEmpty());

    devsim::LinePacer unpaced(0, 0);
    unpaced.send({1, 2, 3}, 0);
    out.clear();
    unpaced.takeDue(0, out);
    EXPECT_EQ(out.size(), 3u);
}

TEST(DevsimLinePacer, AnAdapterLatencyReleasesBurstsOfSixtyTwoOrAfterTheTimer) {
    constexpr devsim::Nanos ms = 1'000'000;
    devsim::LinePacer pacer(0, 0, 16);
    std::vector<std::uint8_t> out;
    pacer.send(std::vector<std::uint8_t>(16, 1), 0);
    pacer.takeDue(0, out);
    pacer.takeDue(15 * ms, out);
    EXPECT_TRUE(out.empty()) << "a short reply waits for the timer";
    EXPECT_FALSE(pacer.outputEmpty());
    EXPECT_EQ(pacer.nextWake(), 16 * ms);
    pacer.takeDue(16 * ms, out);
    EXPECT_EQ(out.size(), 16u);
    EXPECT_TRUE(pacer.outputEmpty());

    // 62 bytes fill a burst, which goes at once; the rest starts the next one.
    out.clear();
    pacer.send(std::vector<std::uint8_t>(70, 2), 20 * ms);
    pacer.takeDue(20 * ms, out);
    EXPECT_EQ(out.size(), 62u);
    pacer.takeDue(35 * ms, out);
    EXPECT_EQ(out.size(), 62u);
    pacer.takeDue(36 * ms, out);
    EXPECT_EQ(out.size(), 70u);

    // On a paced line the timer starts when the first byte has crossed it,
    // and a byte that crosses after the deadline starts the next burst.
    devsim::LinePacer paced(10000, 0, 2);  // 1 ms per byte, 2 ms timer
    out.clear();
    paced.send({1, 2, 3, 4}, 0);  // the bytes cross at 1, 2, 3 and 4 ms
    paced.takeDue(2 * ms, out);
    EXPECT_TRUE(out.empty());
    paced.takeDue(4 * ms, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2}));
    paced.takeDue(5 * ms, out);
    EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_TRUE(paced.outputEmpty());
}

TEST(DevsimOptions, AnnouncementsOverrideThePacketSizeAndBadValuesAreRejected) {
    devsim::Options options;
    std::string error;
    const char* args[] = {"devsim",  "--announce",     "32,16",      "--max-packet-words",
                          "8",       "--boot-version", "0x01020304", "--fault",
                          "hangup@2"};
    ASSERT_TRUE(devsim::parseOptions(9, args, options, error)) << error;
    EXPECT_EQ(options.announcements, (std::vector<std::uint32_t>{32, 16}));
    EXPECT_EQ(options.bootVersion, 0x01020304u);

    for (const std::vector<const char*>& bad :
         {std::vector<const char*>{"devsim", "--announce", "8,"},
          {"devsim", "--noise", "100000"},
          {"devsim", "--start", "loader"},
          {"devsim", "--baud"},
          {"devsim", "--bogus", "1"},
          {"devsim", "--fault", "hangup"}}) {
        devsim::Options fresh;
        EXPECT_FALSE(devsim::parseOptions(static_cast<int>(bad.size()), bad.data(), fresh, error))
            << bad[1];
    }
}

// The boot loader fed directly, its replies collected.
class BootLoaderTest : public ::testing::Test {
  protected:
    explicit BootLoaderTest(std::vector<std::uint32_t> announcements = {8}) {
        config_.announcements = std::move(announcements);
    }

    // Built here, after derived fixtures have adjusted config_.
    void SetUp() override {
        boot_ = std::make_unique<devsim::BootLoader>(
            config_,
            devsim::DeviceContext{transcript_, faults_,
                                  [this](const ByteString& b) { sent_.push_back(b); }},
            flash_, [this] { ++ends_; });
    }

    void feed(const ByteString& bytes) { boot_->feed(bytes.data(), bytes.size()); }
    ByteString replies() {
        ByteString all;
        for (const auto& reply : sent_) all.insert(all.end(), reply.begin(), reply.end());
        sent_.clear();
        return all;
    }
    // Start command and block-start; returns the negotiation bytes.
    ByteString beginBlock(std::uint32_t flags = 0xA5A50000) {
        feed(command(14, flags));
        feed(command(0xF000, 1));
        return replies();
    }
    // Status of the single acknowledgement that the packet draws.
    std::uint32_t statusFor(const ByteString& packet) {
        feed(packet);
        const ByteString ack = replies();
        EXPECT_EQ(ack.size(), 16u);
        return u32At(ack, 12);
    }

    devsim::BootConfig config_;
    devsim::Transcript transcript_;
    devsim::FaultSet faults_;
    devsim::FlashModel flash_;
    std::vector<ByteString> sent_;
    int ends_ = 0;
    std::unique_ptr<devsim::BootLoader> boot_;
};

TEST_F(BootLoaderTest, VerifiesEachDataPacketAndKeepsOnlyGoodData) {
    beginBlock();
    const ByteString full(12, 0x11);  // 8 words: 20 header bytes + 12 data bytes
    EXPECT_EQ(statusFor(dataPacket(0x108000, full)), 0u);

    ByteString corrupt = dataPacket(0x10800C, full);
    corrupt[25] ^= 0x01;
    EXPECT_EQ(statusFor(corrupt), 2u);
    EXPECT_EQ(statusFor(dataPacket(0x108010, full)), 5u) << "gap in the addresses";
    EXPECT_EQ(statusFor(dataPacket(0x10800C, full, 1)), 5u) << "flags bit 0 differs from start";
    ByteString dirtyPad = dataPacket(0x10800C, {1, 2, 3});
    dirtyPad.back() = 0x55;  // pad bytes are not covered by the checksum
    EXPECT_EQ(statusFor(dirtyPad), 5u);
    EXPECT_EQ(statusFor(dataPacket(0x10800C, ByteString(16, 0))), 5u) << "longer than announced";
    EXPECT_EQ(statusFor(dataPacket(0x10800C, {1, 2, 3, 4}, 0, 0x100)), 5u) << "flags bit 8";
    EXPECT_EQ(statusFor(dataPacket(0x10800C, {9, 8, 7})), 0u) << "a short last packet";
    EXPECT_EQ(statusFor(dataPacket(0x10800F, ByteString(12, 0))), 5u) << "after a short packet";

    feed(kEndPacket);
    const ByteString endAck = replies();
    EXPECT_EQ(u32At(endAck, 8), 2u);
    EXPECT_EQ(u32At(endAck, 12), 9u);
    EXPECT_EQ(ends_, 1);
    ByteString expected = full;
    expected.insert(expected.end(), {9, 8, 7});
    EXPECT_EQ(flash_.contents(0x108000), expected);
}

TEST_F(BootLoaderTest, RefusesDataOutsideABlockAndResynchronisesAfterGarbage) {
    EXPECT_EQ(statusFor(dataPacket(0x108000, {1})), 5u) << "no start command";
    feed(command(14, 0));
    EXPECT_EQ(statusFor(dataPacket(0x108000, {1})), 5u) << "no block-start";

    feed({0x7e, 0x72, 0x76, 0x0d, 0x0a, 0xff});
    feed(kVersionRequest);
    const ByteString version = replies();
    ASSERT_EQ(version.size(), 8u);
    EXPECT_EQ(u16At(version, 2), 15u);
    EXPECT_EQ(u32At(version, 4), 0x12340AFFu);

    // A data packet cut short: given up when the line goes quiet, refused with 5.
    beginBlock();
    const ByteString packet = dataPacket(0x108000, {1, 2, 3, 4});
    feed(ByteString(packet.begin(), packet.begin() + 10));
    ASSERT_TRUE(boot_->hasPartialPacket());
    boot_->abandonPartialPacket();
    EXPECT_EQ(u32At(replies(), 12), 5u);
    EXPECT_EQ(statusFor(packet), 0u);
}

TEST_F(BootLoaderTest, FaultsShapeTheNegotiationAndTheAcknowledgements) {
    std::string error;
    ASSERT_TRUE(
        faults_.replace("oversize-packet oversize-announce goahead-status=15 "
                        "short-ack@1 oversize-ack@2 hangup@3",
                        error));
    const ByteString negotiation = beginBlock();
    // 408-byte packet, 20-byte announcement, go-ahead, reply.
    ASSERT_EQ(negotiation.size(), 408u + 20u + 8u + 16u);
    EXPECT_EQ(u16At(negotiation, 4), 100u);
    EXPECT_EQ(u16At(negotiation, 408 + 2), 0x300Bu);
    EXPECT_EQ(u16At(negotiation, 408 + 4), 3u);
    EXPECT_EQ(u32At(negotiation, 408 + 8), 8u);
    EXPECT_EQ(u16At(negotiation, 428 + 2), 1u);
    EXPECT_EQ(u32At(negotiation, 436 + 12), 15u);

    feed(dataPacket(0x108000, ByteString(12, 1)));
    EXPECT_EQ(replies().size(), 8u);
    feed(dataPacket(0x10800C, ByteString(12, 2)));
    const ByteString oversize = replies();
    EXPECT_EQ(oversize.size(), 20u);
    EXPECT_EQ(u16At(oversize, 4), 3u);
    feed(dataPacket(0x108018, ByteString(12, 3)));
    feed(kVersionRequest);
    EXPECT_TRUE(replies().empty()) << "hung up for good";
}

TEST_F(BootLoaderTest, OnceFaultsLetTheSecondDownloadSucceed) {
    std::string error;
    ASSERT_TRUE(faults_.replace("data-status=7@1,once end-subject=3,once", error));
    beginBlock();
    EXPECT_EQ(statusFor(dataPacket(0x108000, {1, 2})), 7u);
    feed(kEndPacket);
    EXPECT_EQ(u32At(replies(), 8), 3u);
    EXPECT_TRUE(flash_.contents(0x108000).empty()) << "a forced failure stores nothing";

    beginBlock();
    EXPECT_EQ(statusFor(dataPacket(0x108000, {1, 2})), 0u);
    feed(kEndPacket);
    EXPECT_EQ(u32At(replies(), 8), 2u);
    EXPECT_EQ(flash_.contents(0x108000), (ByteString{1, 2}));
}

TEST_F(BootLoaderTest, DetectionFaultsSilenceTheVersionReply) {
    std::string error;
    ASSERT_TRUE(faults_.replace("boot-version-fail-first", error));
    feed(kVersionRequest);
    EXPECT_TRUE(replies().empty());
    feed(kVersionRequest);
    EXPECT_EQ(replies().size(), 8u);

    ASSERT_TRUE(faults_.replace("no-bootloader", error));
    boot_->restart();
    feed(kVersionRequest);
    beginBlock();
    EXPECT_TRUE(replies().empty());
}

TEST_F(BootLoaderTest, SurvivesArbitraryInputAndStillAnswers) {
    std::mt19937 random(20240601);
    beginBlock();
    for (int round = 0; round < 3000; ++round) {
        ByteString chunk(random() % 48);
        for (auto& byte : chunk) byte = static_cast<std::uint8_t>(random());
        if (round % 5 == 0) {  // a data header with an arbitrary length field
            chunk.insert(chunk.begin(),
                         {0x0d, 0xf0, 0x01, 0x00, static_cast<std::uint8_t>(random()),
                          static_cast<std::uint8_t>(random() % 3), 0, 0});
        }
        if (round % 7 == 0) chunk = dataPacket(random(), ByteString(random() % 40, 0x33));
        feed(chunk);
        if (round % 40 == 0) boot_->abandonPartialPacket();
    }
    boot_->abandonPartialPacket();
    replies();
    feed(kVersionRequest);
    EXPECT_EQ(replies().size(), 8u);
}

TEST(DevsimAppFirmware, SurvivesArbitraryInputAndStillAnswers) {
    devsim::Transcript transcript;
    devsim::FaultSet faults;
    ByteString sent;
    devsim::AppFirmware app(
        "1.0", devsim::DeviceContext{transcript, faults, [&](const ByteString& bytes) {
                                         sent.insert(sent.end(), bytes.begin(), bytes.end());
                                     }});
    std::mt19937 random(7);
    const std::uint8_t alphabet[] = {'~', '\r', '\n', 'r', 'v', 'd', 0, 0xff};
    for (int round = 0; round < 2000; ++round) {
        ByteString chunk(random() % 300);
        for (auto& byte : chunk) byte = alphabet[random() % sizeof alphabet];
        app.feed(chunk.data(), chunk.size());
    }
    sent.clear();
    const ByteString query = textBytes("~rv\r\n");
    app.feed(query.data(), query.size());
    EXPECT_EQ(sent, textBytes("~Rv00001.0\r\n"));
    const ByteString overlong = textBytes("~" + std::string(300, 'x') + "\r\n~rv\r\n");
    sent.clear();
    app.feed(overlong.data(), overlong.size());
    EXPECT_EQ(sent, textBytes("~Rv00001.0\r\n")) << "an overlong line is dropped, not answered";
}

class SeveralAnnouncementsTest : public BootLoaderTest {
  protected:
    SeveralAnnouncementsTest() : BootLoaderTest({100, 6}) { config_.noisePackets = 3; }
};

TEST_F(SeveralAnnouncementsTest, SendsNoiseThenEveryAnnouncementAndCountsTheLast) {
    const ByteString negotiation = beginBlock();
    // Noise of 8, 12 and 8 bytes, two announcements of 16, go-ahead, reply.
    ASSERT_EQ(negotiation.size(), 28u + 32u + 8u + 16u);
    for (std::size_t at : {2u, 10u, 22u}) {
        EXPECT_NE(u16At(negotiation, at), 1u);
        EXPECT_NE(u16At(negotiation, at), 0x300Bu);
    }
    EXPECT_EQ(u32At(negotiation, 28 + 8), 100u);
    EXPECT_EQ(u32At(negotiation, 44 + 8), 6u);
    EXPECT_EQ(u32At(negotiation, 68 + 12), 14u);
    EXPECT_EQ(statusFor(dataPacket(0x108000, {1, 2, 3, 4})), 0u) << "6 words hold 4 bytes";
    EXPECT_EQ(statusFor(dataPacket(0x108004, {1, 2, 3, 4, 5})), 5u);
}

}  // namespace
