// The protocols end to end against the device simulator: images land in its
// flash model byte for byte, and its injected faults reach the result codes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"
#include "tests/protocol/test_clock.h"
#include "tests/support/devsim_process.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kFlashBase = 0x108000;
constexpr std::uint32_t kCodeFlags = 0xA5A50000u;

// A list of blocks that owns its blocks.
class BlockChain {
  public:
    void add(std::uint32_t address, std::int32_t size, std::uint32_t seed) {
        auto block = std::make_unique<ImageBlock>();
        block->targetAddress = address;
        block->byteCount = size;
        block->data.reset(new std::uint8_t[static_cast<std::size_t>(size)]);
        std::uint32_t value = seed;
        for (std::int32_t i = 0; i < size; ++i) {
            value = value * 1103515245u + 12345u;
            block->data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> 16);
        }
        if (!blocks_.empty()) blocks_.back()->next = block.get();
        blocks_.push_back(std::move(block));
    }
    const ImageBlock* first() const { return blocks_.empty() ? nullptr : blocks_.front().get(); }
    const ImageBlock& at(std::size_t index) const { return *blocks_[index]; }

  private:
    std::vector<std::unique_ptr<ImageBlock>> blocks_;
};

Bytes bytesOf(const ImageBlock& block) {
    return Bytes(block.data.get(), block.data.get() + block.byteCount);
}

struct ProgressLog {
    std::vector<std::int32_t> percents;
    static int record(void* context, std::int32_t percent) {
        static_cast<ProgressLog*>(context)->percents.push_back(percent);
        return 0;
    }
};

// A simulator and the tool's port on it.
class Device {
  public:
    explicit Device(std::vector<std::string> arguments) : simulator_(arguments) {
        port_ = simulator_.started() ? createPort(simulator_.portNumber()) : nullptr;
    }
    ~Device() { closePort(port_); }

    bool ready() const { return port_ != nullptr && port_->handle != kInvalidPortHandle; }
    SerialPort* port() const { return port_; }
    DevsimProcess& simulator() { return simulator_; }

    int transfer(const BlockChain& chain, ProgressLog* progress = nullptr) {
        TransferSession session(port_);
        return displayCode(transferImage(chain.first(), session, progress, kCodeFlags,
                                         progress != nullptr ? &ProgressLog::record : nullptr));
    }

  private:
    DevsimProcess simulator_;
    SerialPort* port_ = nullptr;
};

TEST(DevsimTransfer, ImageLandsInFlashByteForByte) {
    Device device({"--start", "boot", "--boot-version", "0x01020304"});
    ASSERT_TRUE(device.ready());
    PortLink link{device.port()};
    std::uint32_t version = 0;
    ASSERT_EQ(queryBootVersion(&link, version), LinkStatus::Ok);
    EXPECT_EQ(version, 0x01020304u);

    BlockChain chain;
    chain.add(kFlashBase, 20000, 1);
    ProgressLog progress;
    EXPECT_EQ(device.transfer(chain, &progress), 0);
    device.simulator().stop();
    EXPECT_EQ(device.simulator().flash(), bytesOf(chain.at(0)));
    ASSERT_FALSE(progress.percents.empty());
    EXPECT_EQ(progress.percents.back(), 100);
    EXPECT_EQ(progress.percents.size(), (20000u + 235) / 236);
}

TEST(DevsimTransfer, SeveralBlocksWithNoiseOddSizesAndTheOtherEndStatus) {
    Device device({"--start", "boot", "--noise", "3", "--announce", "32,7,13", "--end-status", "10",
                   "--fault", "oversize-packet"});
    ASSERT_TRUE(device.ready());
    BlockChain chain;
    chain.add(kFlashBase, 1001, 2);
    chain.add(kFlashBase + 3000, 3, 3);
    chain.add(kFlashBase + 1001, 64, 4);  // continues the first block's bytes
    EXPECT_EQ(device.transfer(chain), 0);
    device.simulator().stop();

    Bytes expected(3003, 0xFF);
    for (std::size_t index = 0; index < 3; ++index) {
        const ImageBlock& block = chain.at(index);
        std::copy(block.data.get(), block.data.get() + block.byteCount,
                  expected.begin() + (block.targetAddress - kFlashBase));
    }
    EXPECT_EQ(device.simulator().flash(), expected);
}

TEST(DevsimTransfer, ConsoleVersionAndBootSwitch) {
    Device device({"--app-version", "bl-7.1", "--boot-delay", "50"});
    ASSERT_TRUE(device.ready());
    PortLink link{device.port()};
    const char* version = queryAppVersion(&link);
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "bl-7.1\r\n");
    EXPECT_TRUE(requestBootLoader(&link));
    ASSERT_TRUE(device.simulator().waitForTranscript("mode boot"));
    std::uint32_t word = 0;
    EXPECT_EQ(queryBootVersion(&link, word), LinkStatus::Ok);
}

TEST(DevsimTransfer, RefusedBootSwitch) {
    Device device({"--fault", "refuse-boot"});
    ASSERT_TRUE(device.ready());
    PortLink link{device.port()};
    EXPECT_FALSE(requestBootLoader(&link));
}

struct FaultCase {
    std::vector<std::string> options;
    int result;
};

TEST(DevsimTransfer, InjectedFaultsGiveTheirResultCodes) {
    const std::vector<FaultCase> cases{
        {{"--fault", "data-status=2@2"}, kPacketDamaged},
        {{"--fault", "data-status=5@1"}, kPacketRejected},
        {{"--fault", "data-status=7@3"}, kUnexpectedAcknowledgement},
        {{"--fault", "goahead-status=15"}, kNoStartReply},
        {{"--fault", "end-status=3"}, kUnexpectedAcknowledgement},
        {{"--fault", "end-subject=3"}, kUnexpectedAcknowledgement},
        {{"--fault", "oversize-announce"}, kBadNegotiation},
        {{"--fault", "oversize-ack@2"}, kBadNegotiation},
        {{"--fault", "short-ack@2"}, kUnexpectedAcknowledgement},
        {{"--fault", "no-announce"}, kBadNegotiation},
        {{"--fault", "announce-8"}, kBadNegotiation},
        {{"--max-packet-words", "5"}, kBadNegotiation},
        {{"--max-packet-words", "16385"}, kBadNegotiation},
    };
    BlockChain chain;
    chain.add(kFlashBase, 1000, 5);
    for (const FaultCase& test : cases) {
        std::vector<std::string> options{"--start", "boot"};
        options.insert(options.end(), test.options.begin(), test.options.end());
        SCOPED_TRACE(test.options.back());
        Device device(options);
        ASSERT_TRUE(device.ready());
        EXPECT_EQ(device.transfer(chain), test.result);
    }
}

TEST(DevsimTransfer, DeviceFallingSilentEndsTheTransfer) {
    Device device({"--start", "boot", "--fault", "hangup@2"});
    ASSERT_TRUE(device.ready());
    BlockChain chain;
    chain.add(kFlashBase, 1000, 6);
    FastClock clock(100);  // the 20 s idle limit passes in 0.2 s
    EXPECT_EQ(device.transfer(chain), kDeviceSilentCode);
}

}  // namespace
