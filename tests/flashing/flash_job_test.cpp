// The whole job on one port against a board played in the process over the
// in-memory port: the steps in their order, every outcome, and the pauses,
// which a fast clock lets run at their real lengths in milliseconds.
#include "flashing/flash_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "flashing/flash_request.h"
#include "flashing/messages.h"
#include "platform/platform.h"
#include "protocol/packet_layout.h"
#include "serial/memory_port.h"
#include "tests/protocol/test_clock.h"

namespace {

constexpr std::uint32_t kBootVersion = 0x01020304;
constexpr std::uint32_t kPacketWords = 64;  // 236 data bytes per packet
constexpr std::int32_t kImageBytes = 600;   // three data packets

// A board as its ports see it: a boot loader, an application, or nothing. It
// notes each request it is sent, in order, and answers as the device does.
class Board : public MemoryDevice {
  public:
    enum class Runs { BootLoader, Application, Nothing };

    Runs runs = Runs::BootLoader;
    std::string versionText = "bl-1.0\r\n";
    bool acceptsSwitch = true;
    Runs afterSwitch = Runs::BootLoader;
    int refusedPacket = 0;   // the data packet acknowledged with status 2; 0: none
    int hangUpAtPacket = 0;  // the data packet after which the line hangs up; 0: never
    std::vector<std::string> requests;

    std::function<void(const std::string& request)> heard;  // told each request as it comes

    void written(const std::uint8_t* bytes, std::size_t count) override {
        const bool versionRequest = count == 8 && getU16(bytes) == kVersionTag &&
                                    getU16(bytes + kCodeOffset) == kVersionCode;
        if (versionRequest) {
            note("version");
            if (runs == Runs::BootLoader) send(versionFrame());
        } else if (runs == Runs::Application) {
            answerConsole(std::string(bytes, bytes + count));
        } else if (runs == Runs::BootLoader && count >= 8) {
            answerBootLoader(bytes);
        }
    }

  private:
    void note(const std::string& request) {
        requests.push_back(request);
        if (heard) heard(request);
    }

    void answerBootLoader(const std::uint8_t* bytes) {
        const std::uint16_t tag = getU16(bytes);
        const std::uint16_t code = getU16(bytes + kCodeOffset);
        if (tag == kCommandTag && code == kStartCommand) {
            note("start");
        } else if (tag == kCommandTag && code == kBlockStartCommand) {
            note("block");
            send(packet(kSizeAnnouncementCode, {kPacketWords, 0}));
            send(packet(kGoAheadCode, {}));
            send(acknowledgement(0, 14));
        } else if (tag == kDataTag && code == kDataKind) {
            note("data");
            const int number = ++dataPackets_;
            send(acknowledgement(1, number == refusedPacket ? 2 : 0));
            hungUp = number == hangUpAtPacket;
        } else if (tag == kDataTag && code == kEndKind) {
            note("end");
            send(acknowledgement(2, 9));
        }
    }

    void answerConsole(const std::string& text) {
        note(text.substr(0, text.find('\r')));
        if (text == "~rv\r\n") send("~Rv0000" + versionText);
        if (text != "~dboot\r\n") return;
        send(acceptsSwitch ? "~Dboot\r\n" : "~Eboot\r\n");
        if (acceptsSwitch) runs = afterSwitch;
    }

    void send(const std::string& text) { replies.insert(replies.end(), text.begin(), text.end()); }

    void send(const std::vector<std::uint8_t>& bytes) {
        replies.insert(replies.end(), bytes.begin(), bytes.end());
    }

    // The 8-byte reply to a version request.
    static std::vector<std::uint8_t> versionFrame() {
        std::vector<std::uint8_t> bytes(8);
        putU16(bytes.data(), kVersionTag);
        putU16(bytes.data() + kCodeOffset, kVersionCode);
        putU32(bytes.data() + kVersionOffset, kBootVersion);
        return bytes;
    }

    // A header with the code and the length in words, then the words.
    static std::vector<std::uint8_t> packet(std::uint16_t code,
                                            std::initializer_list<std::uint32_t> words) {
        std::vector<std::uint8_t> bytes(8 + 4 * words.size());
        putU16(bytes.data(), 0x5AA5);
        putU16(bytes.data() + kCodeOffset, code);
        putU16(bytes.data() + kLengthOffset, static_cast<std::uint16_t>(words.size()));
        std::size_t at = 8;
        for (const std::uint32_t word : words) {
            putU32(bytes.data() + at, word);
            at += 4;
        }
        return bytes;
    }

    static std::vector<std::uint8_t> acknowledgement(std::uint32_t subject, std::uint32_t status) {
        return packet(0x0002, {subject, status});
    }

    int dataPackets_ = 0;
};

// What the job told its caller, each step with the tick count it came at.
struct Journal {
    std::vector<FlashStep> steps;
    std::vector<std::uint32_t> stepTicks;
    std::vector<std::string> lines;
    std::vector<std::string> notices;

    std::uint32_t ticksBetween(FlashStep from, FlashStep to) const {
        return tickAt(to) - tickAt(from);
    }
    std::uint32_t tickAt(FlashStep step) const {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (steps[i] == step) return stepTicks[i];
        }
        ADD_FAILURE() << "no such step";
        return 0;
    }
};

class FlashJobTest : public ::testing::Test {
  protected:
    FlashJobTest() : clock_(100) {
        image_.targetAddress = 0x108000;
        image_.byteCount = kImageBytes;
        image_.data = std::make_unique<std::uint8_t[]>(kImageBytes);
        std::memset(image_.data.get(), 0x5A, kImageBytes);
        playMemoryDevice(&board);
    }
    ~FlashJobTest() override {
        playMemoryDevice(nullptr);
        failMemoryPortOpens(0);
    }

    // The job on COM5 with the device's own pauses; `onStep` runs at each step.
    FlashResult flash(const std::function<void(FlashStep)>& onStep = {}) {
        FlashEvents events;
        events.step = [this, onStep](FlashStep step) {
            journal.steps.push_back(step);
            journal.stepTicks.push_back(tickCount());
            if (onStep) onStep(step);
        };
        events.log = [this](const std::string& line) { journal.lines.push_back(line); };
        events.notice = [this](const std::string& text) { journal.notices.push_back(text); };
        return flashDevice("COM5", &image_, 0, events, &stop);
    }

    // The request for COM5 with the image, a serial number written as 3 digits at its start.
    FlashRequest numberedRequest() const {
        FlashRequest request;
        request.port = "COM5";
        request.firstBlock = &image_;
        SerialLayout layout;
        layout.address = image_.targetAddress;
        layout.format = SerialFormat::Ascii;
        layout.asciiWidth = 3;
        request.serialLayout = layout;
        return request;
    }

    Board board;
    Journal journal;
    std::atomic<bool> stop{false};

  private:
    FastClock clock_;  // 100 ticks per real millisecond
    ImageBlock image_;
};

using Step = FlashStep;
using Requests = std::vector<std::string>;

TEST_F(FlashJobTest, ABootLoaderIsWrittenAndLeftToStoreTheImageForTheWholePause) {
    const FlashResult result = flash();

    EXPECT_EQ(result.outcome, PortOutcome::Done);
    EXPECT_EQ(result.sentBytes, kImageBytes);
    EXPECT_FALSE(result.settleCut);
    EXPECT_EQ(describeDevice(result.before), "boot v1.2.3.4");
    EXPECT_EQ(journal.steps, (std::vector<Step>{Step::Detecting, Step::Transferring, Step::Settling,
                                                Step::Disconnecting}));
    EXPECT_EQ(journal.lines, (std::vector<std::string>{kConnectedLine, kDownloadCompletedLine,
                                                       kFinishedLine, kDisconnectedLine}));
    EXPECT_EQ(board.requests,
              (Requests{"version", "start", "block", "data", "data", "data", "end"}));
    EXPECT_GE(journal.ticksBetween(Step::Settling, Step::Disconnecting), kSettleAfterDownloadMs);
}

TEST_F(FlashJobTest, AnApplicationIsSwitchedAndABlDeviceIsDetectedAgainAfterItsDownload) {
    board.runs = Board::Runs::Application;
    const FlashResult result = flash();

    EXPECT_EQ(result.outcome, PortOutcome::Done);
    EXPECT_EQ(describeDevice(result.before), "app bl-1.0");
    EXPECT_EQ(describeDevice(result.after), "boot v1.2.3.4");
    EXPECT_EQ(journal.steps,
              (std::vector<Step>{Step::Detecting, Step::SwitchingToBootLoader, Step::Transferring,
                                 Step::Settling, Step::Redetecting, Step::Disconnecting}));
    // Two boot-loader queries go unanswered before the application is asked;
    // after the switch's pause the boot loader answers the first.
    EXPECT_EQ(board.requests, (Requests{"version", "version", "~rv", "~dboot", "version", "start",
                                        "block", "data", "data", "data", "end", "version"}));
    EXPECT_GE(journal.ticksBetween(Step::SwitchingToBootLoader, Step::Transferring),
              kBootSwitchPauseMs);
    EXPECT_TRUE(journal.notices.empty());
}

TEST_F(FlashJobTest, EachFailureEndsTheJobWithItsOutcomeStatusAndMessage) {
    const struct {
        const char* what;
        std::function<void(Board&)> arrange;
        PortOutcome outcome;
        ResultStatus status;
        std::string message;
        int osError;
    } cases[] = {
        {"absent port", [](Board&) { failMemoryPortOpens(ENOENT); }, PortOutcome::PortNotOpened,
         ResultStatus::NoDevice, kNoDeviceMessage, ENOENT},
        {"held port", [](Board&) { failMemoryPortOpens(EBUSY); }, PortOutcome::PortInUse,
         ResultStatus::NoDevice, kNoDeviceMessage, EBUSY},
        {"silent board", [](Board& board) { board.runs = Board::Runs::Nothing; },
         PortOutcome::NoDevice, ResultStatus::NoDevice, kNoDeviceMessage, 0},
        {"switch refused",
         [](Board& board) {
             board.runs = Board::Runs::Application;
             board.acceptsSwitch = false;
         },
         PortOutcome::SwitchRefused, ResultStatus::Refused, kCheckCableMessage, 0},
        {"no boot loader after the switch",
         [](Board& board) {
             board.runs = Board::Runs::Application;
             board.afterSwitch = Board::Runs::Nothing;
         },
         PortOutcome::NoBootLoader, ResultStatus::NoDevice, kNoDeviceMessage, 0},
        {"damaged packet", [](Board& board) { board.refusedPacket = 2; },
         PortOutcome::TransferFailed, ResultStatus::Refused, "Communication Error \n-9978", 0},
        {"line hung up", [](Board& board) { board.hangUpAtPacket = 2; }, PortOutcome::PortLost,
         ResultStatus::NoDevice, "Communication Error \n" + std::to_string(EIO - 10000), EIO},
    };
    for (const auto& test : cases) {
        board = Board();
        journal = Journal();
        failMemoryPortOpens(0);
        test.arrange(board);
        const FlashResult result = flash();
        EXPECT_EQ(result.outcome, test.outcome) << test.what;
        EXPECT_EQ(outcomeStatus(result.outcome), test.status) << test.what;
        EXPECT_EQ(result.message, test.message) << test.what;
        EXPECT_EQ(result.osError, test.osError) << test.what;
        EXPECT_EQ(journal.lines.size(), test.outcome <= PortOutcome::NoDevice ? 0u : 1u)
            << test.what << ": only \"connected.\" after a device answered";
    }
}

TEST_F(FlashJobTest, AStopDuringTheBootSwitchEndsItsPauseAtOnceAndNothingIsWritten) {
    board.runs = Board::Runs::Application;
    board.heard = [this](const std::string& request) {
        if (request == "~dboot") stop = true;
    };
    const FlashResult result = flash();

    EXPECT_EQ(result.outcome, PortOutcome::Stopped);
    EXPECT_EQ(outcomeStatus(result.outcome), ResultStatus::Interrupted);
    EXPECT_EQ(journal.steps, (std::vector<Step>{Step::Detecting, Step::SwitchingToBootLoader}));
    EXPECT_LT(ticksSince(journal.tickAt(Step::SwitchingToBootLoader)), kBootSwitchPauseMs);
    EXPECT_EQ(board.requests, (Requests{"version", "version", "~rv", "~dboot"}));
}

TEST_F(FlashJobTest, AStopDuringTheSettlingPauseLeavesAWrittenDeviceDoneButSaysSo) {
    const FlashResult result = flash([this](Step step) {
        if (step == Step::Settling) stop = true;
    });

    EXPECT_EQ(result.outcome, PortOutcome::Done);
    EXPECT_EQ(outcomeStatus(result.outcome), ResultStatus::Ok);
    EXPECT_TRUE(result.settleCut);
    EXPECT_LT(ticksSince(journal.tickAt(Step::Settling)), kSettleAfterDownloadMs);
    EXPECT_EQ(journal.lines, (std::vector<std::string>{kConnectedLine, kDownloadCompletedLine}));
    EXPECT_EQ(jobDetailText(result),
              "written; the pause while the device stores the image was cut short");
}

// A board must never be written without the serial number meant for it:
// a number that does not fit stops the job before the first data packet.
TEST_F(FlashJobTest, ASerialNumberThatCannotBeWrittenStopsTheJobBeforeAnyData) {
    FlashRequest request = numberedRequest();
    request.beforeTransfer = [] { return TransferStart{true, 1000}; };
    const FlashRecord record = flashPort(request, FlashEvents(), &stop);

    EXPECT_EQ(record.result.outcome, PortOutcome::Stopped);
    EXPECT_EQ(record.status, ResultStatus::Interrupted);
    EXPECT_EQ(record.serialError, "serial 1000: serial number 1000 has more than 3 digits");
    EXPECT_EQ(board.requests, (Requests{"version"}));

    board = Board();
    stop = false;
    request.beforeTransfer = [] { return TransferStart{false, {}}; };
    EXPECT_EQ(flashPort(request, FlashEvents(), &stop).result.outcome, PortOutcome::Stopped);
    EXPECT_EQ(board.requests, (Requests{"version"}));
}

// A number given with the request is checked before the port is opened.
TEST_F(FlashJobTest, AGivenSerialNumberOutsideTheImageOrTooWideIsRefusedUnopened) {
    FlashRequest request = numberedRequest();
    request.serialNumber = 1000;
    EXPECT_EQ(checkFlashRequest(request).status, ResultStatus::WrongRequest);
    request.serialNumber = 7;
    request.serialLayout->address = 0x108000 + kImageBytes - 2;
    const FlashRecord record = flashPort(request, FlashEvents(), &stop);
    EXPECT_EQ(record.refusal.status, ResultStatus::BadImage);
    EXPECT_EQ(record.refusal.text,
              "the serial number at 0x108256 does not lie inside the image's data");
    EXPECT_TRUE(board.requests.empty());

    request.serialLayout->address = 0x108000;
    const FlashRecord written = flashPort(request, FlashEvents(), &stop);
    EXPECT_EQ(written.status, ResultStatus::Ok);
    EXPECT_EQ(written.refusal.status, ResultStatus::Ok);
    EXPECT_EQ(written.detail, "");
}

}  // namespace
