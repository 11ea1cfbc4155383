// A session destroyed from another thread while its flash runs: destroy
// cancels the flash and returns only after the flash has returned.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "capi/quorvel.h"
#include "tests/support/devsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(CapiSession, DestroyCancelsTheRunningFlashAndWaitsForItToReturn) {
    // Paced at 115 200 baud, the transfer of 64 KiB would take about 6 s.
    DevsimProcess sim({"--start", "boot", "--baud", "115200"});
    ASSERT_TRUE(sim.started());
    quorvel_result made{};
    made.size = sizeof made;
    quorvel_image* image = nullptr;
    const std::vector<std::uint8_t> bytes(65536, 0x5A);
    ASSERT_EQ(quorvel_image_from_bytes(bytes.data(), bytes.size(), 0x108000, &image, &made), 0);
    quorvel_session* session = nullptr;
    ASSERT_EQ(quorvel_session_create("COM5", &session), 0);

    std::atomic<bool> writing{false};
    quorvel_flash_options options{};
    options.size = sizeof options;
    options.pauses = QUORVEL_PAUSES_SIMULATOR;
    options.progress_user = &writing;
    options.progress = [](void* user, std::int64_t, std::int64_t) {
        static_cast<std::atomic<bool>*>(user)->store(true);
    };
    quorvel_result result{};
    result.size = sizeof result;
    result.status = -1;
    int status = -1;
    std::thread flashing(
        [&] { status = quorvel_session_flash(session, image, &options, &result); });

    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (!writing.load() && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(writing.load());
    const auto destroying = Clock::now();
    EXPECT_EQ(quorvel_session_destroy(session), 0);
    // The flash has filled its result, cancelled, before the session was freed.
    EXPECT_EQ(result.status, QUORVEL_STATUS_CANCELLED);
    EXPECT_LT(Clock::now() - destroying, std::chrono::seconds(1));
    flashing.join();
    EXPECT_EQ(status, QUORVEL_STATUS_CANCELLED);
    quorvel_image_destroy(image);
}

}  // namespace
