// The image transfer against a scripted device: the exchange on the wire byte
// for byte, packet sizes, progress, and every result code.
#include "protocol/transfer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "protocol/boot_packet.h"
#include "tests/protocol/device_packets.h"
#include "tests/protocol/test_clock.h"

namespace {

constexpr std::uint32_t kCodeFlags = 0xA5A50000u;
const Bytes kStartCommandBytes{0x01, 0x00, 0x0e, 0x00, 0x00, 0x00, 0xa5, 0xa5};
const Bytes kBlockStartBytes{0x01, 0x00, 0x00, 0xf0, 0x01, 0x00, 0x00, 0x00};
const Bytes kEndPacketBytes{0x0d, 0xf0, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00};

Bytes normalNegotiation(std::uint32_t maxPacketWords) {
    return joined({sizeAnnouncement(maxPacketWords), goAhead(), startReply()});
}

// The device's side of one block: the commands that lead into it (`leadIn`
// bytes), then one answer per data packet and the reply to the end packet.
std::vector<PtyPeer::Step> blockScript(std::size_t leadIn, const Bytes& negotiation,
                                       const std::vector<std::size_t>& sizes,
                                       const Bytes& endReply = endAck()) {
    std::vector<PtyPeer::Step> steps{{leadIn, negotiation}};
    for (std::size_t size : sizes) steps.push_back({size, dataAck()});
    steps.push_back({8, endReply});
    return steps;
}

std::vector<PtyPeer::Step> operator+(std::vector<PtyPeer::Step> first,
                                     const std::vector<PtyPeer::Step>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

struct ProgressLog {
    std::vector<std::int32_t> percents;
    static int record(void* context, std::int32_t percent) {
        static_cast<ProgressLog*>(context)->percents.push_back(percent);
        return 0;
    }
};

class TransferTest : public PeerPortTest {
  protected:
    // Appends a block of `size` bytes with a recognisable pattern to the list.
    const ImageBlock* addBlock(std::uint32_t address, std::int32_t size) {
        auto block = std::make_unique<ImageBlock>();
        block->targetAddress = address;
        block->byteCount = size;
        block->data.reset(new std::uint8_t[static_cast<std::size_t>(size > 0 ? size : 1)]);
        for (std::int32_t i = 0; i < size; ++i) {
            block->data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 7 + address);
        }
        if (!blocks.empty()) blocks.back()->next = block.get();
        blocks.push_back(std::move(block));
        return blocks.front().get();
    }

    const ImageBlock* firstBlock() const { return blocks.empty() ? nullptr : blocks.front().get(); }

    // The transfer's result code; the whole result stays in `last`.
    int transfer(std::uint32_t flags = kCodeFlags) {
        last = transferImage(firstBlock(), *session, &progress, flags, &ProgressLog::record);
        return displayCode(last);
    }
    TransferResult last;

    // Runs the transfer against `steps` and returns its result; the tool's
    // packets are left in `packets`.
    int transferWith(std::vector<PtyPeer::Step> steps, std::uint32_t flags = kCodeFlags) {
        peer.runScript(std::move(steps));
        const int result = transfer(flags);
        PtyPeer::ScriptOutcome outcome = peer.finishScript();
        Bytes rest = peer.receiveAvailable();
        outcome.received.insert(outcome.received.end(), rest.begin(), rest.end());
        packets = splitToolPackets(outcome.received);
        scriptCompleted = outcome.completed;
        return result;
    }

    // Checks one data packet field by field against the block it came from.
    void expectDataPacket(const Bytes& packet, const ImageBlock& block, std::size_t offset,
                          std::size_t dataBytes, std::uint32_t flagBit) {
        const std::size_t pad = (4 - dataBytes % 4) % 4;
        ASSERT_EQ(packet.size(), 20 + dataBytes + pad);
        EXPECT_EQ(halfAt(packet, 0), 0xF00Du);
        EXPECT_EQ(halfAt(packet, 2), 1u);
        EXPECT_EQ(halfAt(packet, 4), 3 + (dataBytes + 3) / 4);
        EXPECT_EQ(halfAt(packet, 6), 0u);
        EXPECT_EQ(wordAt(packet, 8), block.targetAddress + offset);
        EXPECT_EQ(wordAt(packet, 12), bitwiseCrc(packet, dataBytes));
        EXPECT_EQ(wordAt(packet, 16), flagBit | (pad << 1));
        EXPECT_EQ(Bytes(packet.begin() + 20, packet.begin() + 20 + static_cast<long>(dataBytes)),
                  Bytes(block.data.get() + offset, block.data.get() + offset + dataBytes));
        for (std::size_t i = 0; i < pad; ++i) EXPECT_EQ(packet[20 + dataBytes + i], 0);
    }

    void SetUp() override {
        PeerPortTest::SetUp();
        session = std::make_unique<TransferSession>(port);
    }

    std::vector<std::unique_ptr<ImageBlock>> blocks;
    std::unique_ptr<TransferSession> session;
    ProgressLog progress;
    std::vector<Bytes> packets;
    bool scriptCompleted = false;
};

// --- the exchange on the wire ---------------------------------------------

TEST_F(TransferTest, EmptyListSendsOnlyTheStartCommand) {
    EXPECT_EQ(transfer(), 0);
    EXPECT_EQ(peer.receiveAvailable(), kStartCommandBytes);
    EXPECT_EQ(session->totalBytes, 0);
    EXPECT_TRUE(progress.percents.empty());
    EXPECT_EQ(session->progress, &ProgressLog::record);
    EXPECT_EQ(session->context, &progress);
}

TEST_F(TransferTest, EmptyBlockIsNegotiatedAndEndedWithoutData) {
    addBlock(0x108000, 0);
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(64), {})), 0);
    EXPECT_TRUE(scriptCompleted);
    EXPECT_EQ(packets, (std::vector<Bytes>{kStartCommandBytes, kBlockStartBytes, kEndPacketBytes}));
    EXPECT_TRUE(progress.percents.empty());
}

TEST_F(TransferTest, BlockGoesOutInPacketsThatFillTheAnnouncedSize) {
    const ImageBlock& block = *addBlock(0x108000, 600);
    DebugCapture trace;
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(64), {256, 256, 148}), 0xA5A50001u),
              0);
    ASSERT_EQ(packets.size(), 6u);
    EXPECT_EQ(packets[0], (Bytes{0x01, 0x00, 0x0e, 0x00, 0x01, 0x00, 0xa5, 0xa5}));
    EXPECT_EQ(packets[1], kBlockStartBytes);
    expectDataPacket(packets[2], block, 0, 236, 1);
    expectDataPacket(packets[3], block, 236, 236, 1);
    expectDataPacket(packets[4], block, 472, 128, 1);
    EXPECT_EQ(halfAt(packets[2], 4), 62u);
    EXPECT_EQ(halfAt(packets[4], 4), 35u);
    EXPECT_EQ(packets[5], kEndPacketBytes);
    EXPECT_EQ(session->sentBytes, 600);

    std::vector<std::wstring> progressLines;
    for (const std::wstring& line : trace.lines()) {
        if (line.find(L"bytes left") != std::wstring::npos) progressLines.push_back(line);
    }
    EXPECT_EQ(progressLines, (std::vector<std::wstring>{L"364 bytes left for block @00108000\n",
                                                        L"128 bytes left for block @00108000\n",
                                                        L"0 bytes left for block @00108000\n"}));
}

TEST_F(TransferTest, SmallBlockIsOnePaddedPacket) {
    const ImageBlock& block = *addBlock(0x108000, 5);
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(7), {28})), 0);
    ASSERT_EQ(packets.size(), 4u);
    expectDataPacket(packets[2], block, 0, 5, 0);
    EXPECT_EQ(wordAt(packets[2], 16), 6u);
}

TEST_F(TransferTest, ExactMultipleOfTheChunkSendsOnlyFullPackets) {
    const ImageBlock& block = *addBlock(0x20000, 472);
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(64), {256, 256})), 0);
    ASSERT_EQ(packets.size(), 5u);
    expectDataPacket(packets[3], block, 236, 236, 0);
    EXPECT_EQ(halfAt(packets[3], 4), 62u);
}

TEST_F(TransferTest, SmallestAcceptedPacketCarriesOneWord) {
    const ImageBlock& block = *addBlock(0x4000, 5);
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(6), {24, 24})), 0);
    ASSERT_EQ(packets.size(), 5u);
    expectDataPacket(packets[2], block, 0, 4, 0);
    expectDataPacket(packets[3], block, 4, 1, 0);
}

TEST_F(TransferTest, ProgressCountsDataBytesOverTheWholeDownload) {
    addBlock(0x108000, 100);
    addBlock(0x200000, 300);
    EXPECT_EQ(transferWith(blockScript(16, normalNegotiation(64), {120}) +
                           blockScript(8, normalNegotiation(64), {256, 84})),
              0);
    EXPECT_EQ(progress.percents, (std::vector<std::int32_t>{25, 84, 100}));
    EXPECT_EQ(session->totalBytes, 400);
}

TEST_F(TransferTest, ProgressOfLargeDownloadsDoesNotOverflow) {
    addBlock(0x108000, 100);
    session->progress = &ProgressLog::record;
    session->context = &progress;
    session->totalBytes = 2000000000;
    session->sentBytes = 1999999000;
    peer.runScript(blockScript(8, normalNegotiation(64), {120}));
    EXPECT_TRUE(sendBlock(*session, 0x108000, 100, blocks[0]->data.get(), 0).ok());
    EXPECT_EQ(progress.percents, (std::vector<std::int32_t>{99}));
}

TEST_F(TransferTest, NoiseIsDroppedAndTheLastAnnouncementCounts) {
    addBlock(0x108000, 300);
    Bytes atPacket = devicePacket(0x300B, 9);  // '@': header only, code ignored as a size
    atPacket[0] = 0x40;
    atPacket.resize(8);
    const Bytes negotiation =
        joined({devicePacket(0x1234, 3), sizeAnnouncement(16), atPacket, devicePacket(0x0002, 300),
                devicePacket(0x300C, 1), sizeAnnouncement(64), goAhead(), startReply()});
    EXPECT_EQ(transferWith(blockScript(16, negotiation, {256, 84})), 0);
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(packets[2].size(), 256u);
}

// --- result codes -----------------------------------------------------------

struct NegotiationCase {
    const char* name;
    Bytes negotiation;
    int result;
};

TEST_F(TransferTest, NegotiationFailures) {
    Bytes shortAnnouncement = devicePacket(0x300B, 0);
    const std::vector<NegotiationCase> cases{
        {"announcement of 20 bytes",
         joined({devicePacket(0x300B, 3, {64}), goAhead(), startReply()}), kBadNegotiation},
        {"go-ahead before any announcement", joined({goAhead(), startReply()}), kBadNegotiation},
        {"announcement without a size word", joined({shortAnnouncement, goAhead(), startReply()}),
         kBadNegotiation},
        {"size too small", normalNegotiation(5), kBadNegotiation},
        {"size too large", normalNegotiation(16385), kBadNegotiation},
        {"reply with status 15", joined({sizeAnnouncement(64), goAhead(), acknowledgement(0, 15)}),
         kNoStartReply},
        {"short reply after earlier status 14",
         joined({sizeAnnouncement(64), goAhead(), devicePacket(2, 0)}), kNoStartReply},
        {"reply longer than 16 bytes",
         joined({sizeAnnouncement(64), goAhead(), devicePacket(2, 3, {0, 14})}), kBadNegotiation},
    };
    for (const NegotiationCase& test : cases) {
        SCOPED_TRACE(test.name);
        // Leaves a status-14 reply in the receive area first, so a short
        // reply cannot borrow its fields.
        deliver(startReply());
        std::int32_t count = 16;
        std::uint8_t scratch[16];
        ASSERT_EQ(readPacket(&link, scratch, count), LinkStatus::Ok);

        peer.runScript({{8, test.negotiation}});
        EXPECT_EQ(displayCode(sendBlock(*session, 0x108000, 0, nullptr, 0)), test.result);
        EXPECT_TRUE(peer.finishScript().completed);
        EXPECT_TRUE(peer.receiveAvailable().empty());  // nothing after a failed negotiation
    }
}

struct DataReplyCase {
    const char* name;
    Bytes reply;
    int result;
};

TEST_F(TransferTest, DataAcknowledgementFailuresStopTheBlock) {
    addBlock(0x108000, 600);
    const std::vector<DataReplyCase> cases{
        {"status 2", acknowledgement(1, 2), kPacketDamaged},
        {"status 5", acknowledgement(1, 5), kPacketRejected},
        {"status 7", acknowledgement(1, 7), kUnexpectedAcknowledgement},
        {"short acknowledgement", devicePacket(2, 0), kUnexpectedAcknowledgement},
        {"long acknowledgement", devicePacket(2, 3, {1, 0}), kBadNegotiation},
    };
    for (const DataReplyCase& test : cases) {
        SCOPED_TRACE(test.name);
        // The first packet is accepted, the second answered with the case's reply.
        peer.runScript({{8, normalNegotiation(64)}, {256, dataAck()}, {256, test.reply}});
        const TransferResult result = sendBlock(*session, 0x108000, 600, blocks[0]->data.get(), 0);
        EXPECT_EQ(displayCode(result), test.result);
        EXPECT_EQ(result.packet, session->sentPackets);  // the packet that failed is named
        EXPECT_FALSE(result.portLost());
        EXPECT_TRUE(peer.finishScript().completed);
        EXPECT_TRUE(peer.receiveAvailable().empty());  // no third packet, no end packet
    }
}

TEST_F(TransferTest, EndAcknowledgementNeedsSubjectTwoAndStatusNineOrTen) {
    const std::vector<DataReplyCase> cases{
        {"status 9", acknowledgement(2, 9), 0},
        {"status 10", acknowledgement(2, 10), 0},
        {"status 10, subject 3", acknowledgement(3, 10), kUnexpectedAcknowledgement},
        {"status 0", acknowledgement(2, 0), kUnexpectedAcknowledgement},
        {"short", devicePacket(2, 0), kUnexpectedAcknowledgement},
    };
    for (const DataReplyCase& test : cases) {
        SCOPED_TRACE(test.name);
        peer.runScript(blockScript(8, normalNegotiation(64), {}, test.reply));
        EXPECT_EQ(displayCode(sendBlock(*session, 0x108000, 0, nullptr, 0)), test.result);
        EXPECT_TRUE(peer.finishScript().completed);
    }
}

TEST_F(TransferTest, SecondBlockFailureFollowsAWrittenFirstBlock) {
    addBlock(0x108000, 100);
    addBlock(0x200000, 100);
    std::vector<PtyPeer::Step> steps = blockScript(16, normalNegotiation(64), {120});
    steps.push_back({8, normalNegotiation(64)});
    steps.push_back({120, acknowledgement(1, 2)});
    EXPECT_EQ(transferWith(steps), kPacketDamaged);
    ASSERT_EQ(packets.size(), 6u);
    EXPECT_EQ(packets[3], kEndPacketBytes);
    EXPECT_EQ(packets[4], kBlockStartBytes);
    EXPECT_EQ(session->sentBytes, 100);
}

TEST_F(TransferTest, FailedStartCommandReturnsTheOsErrorUnchanged) {
    addBlock(0x108000, 100);
    SerialPort broken;
    TransferSession brokenSession(&broken);
    const TransferResult result = transferImage(firstBlock(), brokenSession, nullptr, 0, nullptr);
    EXPECT_EQ(result.failure, TransferFailure::StartNotSent);
    EXPECT_TRUE(result.portLost());
    EXPECT_GT(result.osError, 0);
    EXPECT_EQ(displayCode(result), result.osError);
    EXPECT_TRUE(peer.receiveAvailable().empty());
}

// Hangs the peer up from inside the tool, as soon as the tool has read a
// given number of bytes (counted from its "Rx : " trace lines).
struct HangUpAfterReading {
    static void onTrace(const std::wstring& line, void* context) {
        auto* self = static_cast<HangUpAfterReading*>(context);
        if (line.rfind(L"Rx : ", 0) != 0) return;
        self->bytesRead += (line.size() - 6) / 3;
        if (self->bytesRead >= self->limit) self->peer->hangUp();
    }
    PtyPeer* peer;
    std::size_t limit;
    std::size_t bytesRead = 0;
};

TEST_F(TransferTest, DeadLineDuringABlockIsAnOffsetPortError) {
    addBlock(0x108000, 600);
    const Bytes negotiation = normalNegotiation(64);
    deliver(negotiation);
    HangUpAfterReading hangUp{&peer, negotiation.size()};
    setDebugOutputHook(&HangUpAfterReading::onTrace, &hangUp);
    const int result = transfer();  // the first data packet's write fails
    setDebugOutputHook(nullptr, nullptr);
    EXPECT_EQ(result, EIO - kBlockPortErrorOffset);
    EXPECT_EQ(last.failure, TransferFailure::PortFailed);
    EXPECT_TRUE(last.portLost());
    EXPECT_EQ(last.osError, EIO);
}

TEST_F(TransferTest, SilentDeviceEndsTheTransferWithTheTimeOutCode) {
    addBlock(0x108000, 600);
    peer.runScript({{16, normalNegotiation(64)}, {256, dataAck()}, {256, Bytes{}}});
    auto result = std::async(std::launch::async, [this] { return transfer(); });
    ASSERT_TRUE(peer.finishScript().completed);
    // From here on the device says nothing: let the clock run fast.
    ScriptedClock clock(tickCount(), 1);
    ASSERT_EQ(result.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(result.get(), kDeviceSilentCode);
    EXPECT_EQ(last.failure, TransferFailure::DeviceSilent);
    EXPECT_EQ(session->sentBytes, 236);
}

TEST(TransferResultCode, EveryFailureShowsItsCode) {
    const struct {
        TransferResult result;
        int code;
    } cases[] = {
        {{TransferFailure::None}, 0},
        {{TransferFailure::StartNotSent, 5}, 5},
        {{TransferFailure::PortFailed, 5}, -9995},
        {{TransferFailure::PortFailed, 22}, -9978},  // shown like status 2, yet a lost port
        {{TransferFailure::DeviceSilent}, -10001},
        {{TransferFailure::Stopped}, -10001},
        {{TransferFailure::PacketDamaged, 0, 3, 2}, -9978},
        {{TransferFailure::PacketRejected, 0, 1, 5}, -9979},
        {{TransferFailure::UnexpectedReply, 0, 2, 7}, -9997},
        {{TransferFailure::BadNegotiation}, -9999},
        {{TransferFailure::NoStartReply, 0, 0, 15}, -10014},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(displayCode(test.result), test.code);
        const bool portFailure = test.result.failure == TransferFailure::StartNotSent ||
                                 test.result.failure == TransferFailure::PortFailed;
        EXPECT_EQ(test.result.portLost(), portFailure) << test.code;
        // Read back, the code gives the same kind of failure, and the OS
        // error of a lost port; a stop reads as the silence it shows as.
        const std::optional<TransferResult> back = transferResultOfCode(test.code, portFailure);
        ASSERT_TRUE(back.has_value()) << test.code;
        EXPECT_EQ(displayCode(*back), test.code);
        EXPECT_EQ(back->osError, test.result.osError) << test.code;
        if (test.result.failure != TransferFailure::Stopped) {
            EXPECT_EQ(back->failure, test.result.failure) << test.code;
        }
    }
}

TEST(TransferResultCode, CodesThatNoResultShowsReadAsNone) {
    EXPECT_FALSE(transferResultOfCode(-5, false).has_value());     // no refusal shows so
    EXPECT_FALSE(transferResultOfCode(-10001, true).has_value());  // no OS error -1
    EXPECT_FALSE(transferResultOfCode(-10000, true).has_value());  // nor 0
    EXPECT_EQ(transferResultOfCode(-9997, false)->deviceStatus, TransferResult::kStatusNotKnown);
}

}  // namespace
