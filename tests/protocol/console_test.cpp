// Console commands against a scripted peer: what goes out, which replies
// count, where a reply ends, and the time limit.
#include "protocol/console.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/protocol/device_packets.h"
#include "tests/protocol/test_clock.h"

namespace {

using ConsoleTest = PeerPortTest;

Bytes text(const std::string& value) { return Bytes(value.begin(), value.end()); }

TEST_F(ConsoleTest, VersionQueryAcceptsTheFixedBeginningAndKeepsTheText) {
    deliver(text("~Rv0000bl-2.1\r\n"));
    const char* version = queryAppVersion(&link);
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "bl-2.1\r\n");
    EXPECT_EQ(version, link.appVersionReply + 7);
    EXPECT_EQ(peer.receive(5), text("~rv\r\n"));

    deliver(text("~Rv0000\r\n"));  // an empty version text is still a version
    version = queryAppVersion(&link);
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(version, "\r\n");
}

TEST_F(ConsoleTest, VersionQueryRefusesOtherReplies) {
    for (const char* reply : {"~Rv0001abc\r\n", "~rv0000abc\r\n", "~Rv00\r\n", "\r\n"}) {
        deliver(text(reply));
        EXPECT_EQ(queryAppVersion(&link), nullptr) << reply;
    }
}

TEST_F(ConsoleTest, ReplyEndsAtTheFirstLineEndAndLeavesTheRestInThePort) {
    deliver(text("~Rv0000v1\r\n~Dboot\r\n"));
    char reply[kConsoleReplyCapacity + 1];
    std::int32_t length = kConsoleReplyCapacity;
    EXPECT_EQ(exchangeText(&link, "~rv\r\n", 5, reply, length), LinkStatus::Ok);
    EXPECT_EQ(length, 11);
    EXPECT_STREQ(reply, "~Rv0000v1\r\n");
    EXPECT_EQ(peer.queuedForTool(), 8u);
}

TEST_F(ConsoleTest, ReplyThatFillsTheCapacityIsJudgedByItsBeginning) {
    const std::string full = "~Rv0000" + std::string(193, 'x');
    deliver(text(full + "yz"));
    const char* version = queryAppVersion(&link);
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(std::string(version), std::string(193, 'x'));
    EXPECT_EQ(peer.queuedForTool(), 2u);
}

TEST_F(ConsoleTest, NulByteIsStoredLikeAnyOther) {
    deliver(Bytes{'~', 'R', 'v', '0', '0', '0', '0', 'a', 0, 'b', '\r', '\n'});
    char reply[kConsoleReplyCapacity + 1];
    std::int32_t length = kConsoleReplyCapacity;
    EXPECT_EQ(exchangeText(&link, "~rv\r\n", 5, reply, length), LinkStatus::Ok);
    EXPECT_EQ(length, 12);
    EXPECT_EQ(reply[9], 'b');
}

TEST_F(ConsoleTest, ZeroCapacitySendsTheCommandAndReadsNothing) {
    deliver(text("~Dboot\r\n"));
    char reply[1] = {'?'};
    std::int32_t length = 0;
    EXPECT_EQ(exchangeText(&link, "~dboot\r\n", 8, reply, length), LinkStatus::Ok);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(peer.queuedForTool(), 8u);
    EXPECT_EQ(peer.receive(8), text("~dboot\r\n"));
}

TEST_F(ConsoleTest, BootSwitchAcceptsItsReplyAndRefusesOthers) {
    deliver(text("~Dboot\r\n"));
    EXPECT_TRUE(requestBootLoader(&link));
    EXPECT_EQ(peer.receive(8), text("~dboot\r\n"));
    for (const char* reply : {"\r\n", "~DBOOT\r\n", "~dboot\r\n", "~Dbo\r\n", "~Rv0000x\r\n"}) {
        deliver(text(reply));
        EXPECT_FALSE(requestBootLoader(&link)) << reply;
    }
}

TEST_F(ConsoleTest, FailedWriteReturnsItsErrorAndCountsAsBootConsent) {
    SerialPort broken;
    PortLink brokenLink{&broken};
    char reply[kConsoleReplyCapacity + 1];
    std::int32_t length = kConsoleReplyCapacity;
    EXPECT_EQ(exchangeText(&brokenLink, "~rv\r\n", 5, reply, length), LinkStatus::PortError);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(queryAppVersion(&brokenLink), nullptr);
    EXPECT_TRUE(requestBootLoader(&brokenLink));
}

// Moves the stopped clock 5 s past the limit while the tool reads the byte
// `trigger` (seen in its "Rx : " trace line), before it can test the time.
struct LeapOnRead {
    static void onTrace(const std::wstring& line, void* context) {
        if (line == *static_cast<const std::wstring*>(context)) ScriptedClock::advance(5000);
    }
};

LinkResult exchangeWithLeap(PortLink* link, const wchar_t* triggerLine, std::int32_t& length) {
    ScriptedClock clock(0xFFFFFF00u, 0);
    std::wstring trigger = triggerLine;
    setDebugOutputHook(&LeapOnRead::onTrace, &trigger);
    char reply[kConsoleReplyCapacity + 1];
    length = kConsoleReplyCapacity;
    const LinkResult result = exchangeText(link, "~dboot\r\n", 8, reply, length);
    setDebugOutputHook(nullptr, nullptr);
    return result;
}

TEST_F(ConsoleTest, LineEndReadAfterTheLimitStillCounts) {
    deliver(text("~Dboot\r\n"));
    std::int32_t length = 0;
    EXPECT_EQ(exchangeWithLeap(&link, L"Rx : 0a \n", length), LinkStatus::Ok);
    EXPECT_EQ(length, 8);
}

TEST_F(ConsoleTest, IncompleteReplyAfterTheLimitTimesOut) {
    deliver(text("~Dboot\r"));
    std::int32_t length = 0;
    EXPECT_EQ(exchangeWithLeap(&link, L"Rx : 0d \n", length), LinkStatus::TimedOut);
    EXPECT_EQ(length, 0);
}

TEST_F(ConsoleTest, SilenceTimesOutJustAfterTheLimitAcrossTheTickWrap) {
    ScriptedClock clock(0xFFFFF000u, 1);
    char reply[kConsoleReplyCapacity + 1];
    std::int32_t length = kConsoleReplyCapacity;
    EXPECT_EQ(exchangeText(&link, "~rv\r\n", 5, reply, length), LinkStatus::TimedOut);
    const std::uint32_t waited = clock.now() - 0xFFFFF000u;
    EXPECT_GT(waited, kConsoleReplyLimitMs);
    EXPECT_LT(waited, kConsoleReplyLimitMs + 50);
}

}  // namespace
