// The 3000 ms limits measured on the real clock, while the reads block in the
// operating system and the tick count wraps half-way. The three waits run side
// by side, each on a line of its own, so the group costs about three seconds.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "protocol/boot_packet.h"
#include "protocol/console.h"
#include "tests/protocol/device_packets.h"
#include "tests/protocol/test_clock.h"

namespace {

using Clock = std::chrono::steady_clock;

// A peer and the tool's port on it.
struct Line {
    Line() : peer(std::make_unique<PtyPeer>()), port(createPort(peer->portNumber())) {}
    ~Line() { closePort(port); }
    std::unique_ptr<PtyPeer> peer;
    SerialPort* port;
};

template <typename Operation>
auto timed(Operation operation) {
    return std::async(std::launch::async, [operation] {
        const auto start = Clock::now();
        const auto result = operation();
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        return std::make_pair(result, elapsed);
    });
}

TEST(RealTimers, SilentOrIncompleteRepliesEndAfterThreeSeconds) {
    Line partialFrame, silentConsole, silentBootSwitch;
    ASSERT_NE(partialFrame.port->handle, kInvalidPortHandle);
    ASSERT_NE(silentConsole.port->handle, kInvalidPortHandle);
    ASSERT_NE(silentBootSwitch.port->handle, kInvalidPortHandle);
    ASSERT_TRUE(partialFrame.peer->send(Bytes{0, 0, 0x0f, 0, 1, 2, 3}));
    OffsetClock clock(0xFFFFFFFFu - 1500);

    auto version = timed([&] {
        PortLink link{partialFrame.port};
        std::uint32_t word = 0;
        return queryBootVersion(&link, word);
    });
    auto appVersion = timed([&] {
        PortLink link{silentConsole.port};
        return queryAppVersion(&link) == nullptr;
    });
    auto bootSwitch = timed([&] {
        PortLink link{silentBootSwitch.port};
        return requestBootLoader(&link);
    });

    const auto [versionResult, versionMs] = version.get();
    EXPECT_EQ(versionResult, LinkStatus::TimedOut);
    const auto [noVersion, appMs] = appVersion.get();
    EXPECT_TRUE(noVersion);
    const auto [accepted, switchMs] = bootSwitch.get();
    EXPECT_TRUE(accepted);  // silence counts as consent
    for (long long elapsed : {versionMs, appMs, switchMs}) {
        EXPECT_GE(elapsed, 3000);
    }
}

}  // namespace
