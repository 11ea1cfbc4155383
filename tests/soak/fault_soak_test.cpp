// Hundreds of whole flashing jobs (detection, boot switch, transfer, steps
// after success) against simulated devices, each with a fault chosen at
// random, several at once. Every run must end within a bound with the outcome
// its fault calls for, a success must leave the device's flash equal to the
// image (no false successes), and no descriptor or thread may be left behind.
//
// Sized by the environment; the test command runs the default:
//   QUORVEL_SOAK_RUNS        runs in all (default 200)
//   QUORVEL_SOAK_PARALLEL    runs at the same time (default 24)
//   QUORVEL_SOAK_SEED        the seed (default: from the clock); printed, so a
//                            failure can be replayed with the same seed
//   QUORVEL_SOAK_ONLY        run only this run number of the seed's sequence
// A larger soak: QUORVEL_SOAK_RUNS=5000 build/linux/tests/soak/fault_soak_test
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "flashing/flash_job.h"
#include "protocol/transfer.h"
#include "tests/support/devsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Longest a run may take: the slowest fault is a device that falls silent
// mid-transfer (20 s without a byte), after a detection of a few seconds.
constexpr double kRunLimitSeconds = 40.0;
// The simulated device restarts at once; the job's pauses only need to cover that.
constexpr FlashPauses kShortPauses{150, 0};
constexpr std::uint32_t kFlags = 0xA5A50000u;
constexpr std::int32_t kMaxImageBytes = 8000;
constexpr std::int32_t kBytesPerPacket = 64 * 4 - 20;  // the simulator's default packet size

struct Expectation {
    PortOutcome outcome;
    int code = 0;  // for a failed transfer
};

struct SoakRun {
    int number = 0;
    std::string kind;  // the scenario
    std::string name;  // the scenario and the packet it picks on
    std::vector<std::string> arguments;
    Expectation expected;
    std::vector<std::uint8_t> image;
};

std::uint32_t setting(const char* name, std::uint32_t fallback) {
    const char* value = std::getenv(name);
    return value != nullptr ? static_cast<std::uint32_t>(std::strtoul(value, nullptr, 0))
                            : fallback;
}

// SoakRun `number` of the sequence `seed`, the same on every replay.
SoakRun makeRun(std::uint32_t seed, int number) {
    std::mt19937 random(seed + static_cast<std::uint32_t>(number) * 7919u);
    SoakRun run;
    run.number = number;
    run.image.resize(1 + random() % kMaxImageBytes);
    for (std::uint8_t& byte : run.image) byte = static_cast<std::uint8_t>(random());
    const int packets =
        static_cast<int>((run.image.size() + kBytesPerPacket - 1) / kBytesPerPacket);
    const std::string packet = std::to_string(1 + random() % packets);

    struct Scenario {
        std::string name;
        std::vector<std::string> arguments;
        Expectation expected;
    };
    const Scenario scenarios[] = {
        {"application", {"--start", "app"}, {PortOutcome::Done}},
        {"boot loader", {"--start", "boot"}, {PortOutcome::Done}},
        {"bl- application", {"--start", "app", "--app-version", "bl-1.0"}, {PortOutcome::Done}},
        {"slow device",
         {"--start", "boot", "--baud", "115200", "--latency", "3"},
         {PortOutcome::Done}},
        {"noise packets", {"--start", "boot", "--noise", "3"}, {PortOutcome::Done}},
        {"oversized packet",
         {"--start", "boot", "--fault", "oversize-packet"},
         {PortOutcome::Done}},
        {"first version query lost",
         {"--start", "app", "--fault", "boot-version-fail-first"},
         {PortOutcome::Done}},
        {"refused packet",
         {"--start", "boot", "--fault", "data-status=2@" + packet},
         {PortOutcome::TransferFailed, kPacketDamaged}},
        {"packet refused with status 5",
         {"--start", "app", "--fault", "data-status=5@" + packet},
         {PortOutcome::TransferFailed, kPacketRejected}},
        {"oversized acknowledgement",
         {"--start", "boot", "--fault", "oversize-ack@" + packet},
         {PortOutcome::TransferFailed, kBadNegotiation}},
        {"short acknowledgement",
         {"--start", "boot", "--fault", "short-ack@" + packet},
         {PortOutcome::TransferFailed, kUnexpectedAcknowledgement}},
        {"wrong go-ahead reply",
         {"--start", "boot", "--fault", "goahead-status=3"},
         {PortOutcome::TransferFailed, kNoStartReply}},
        {"wrong end status",
         {"--start", "boot", "--fault", "end-status=5"},
         {PortOutcome::TransferFailed, kUnexpectedAcknowledgement}},
        {"wrong end subject",
         {"--start", "app", "--fault", "end-subject=7"},
         {PortOutcome::TransferFailed, kUnexpectedAcknowledgement}},
        {"oversized announcement",
         {"--start", "boot", "--fault", "oversize-announce"},
         {PortOutcome::TransferFailed, kBadNegotiation}},
        {"announcement without a size",
         {"--start", "boot", "--fault", "announce-8"},
         {PortOutcome::TransferFailed, kBadNegotiation}},
        {"no announcement",
         {"--start", "boot", "--fault", "no-announce"},
         {PortOutcome::TransferFailed, kBadNegotiation}},
        {"silent mid-transfer",
         {"--start", "boot", "--fault", "hangup@" + packet},
         {PortOutcome::TransferFailed, kDeviceSilentCode}},
        {"silent device", {"--fault", "silent"}, {PortOutcome::NoDevice}},
        {"boot switch refused",
         {"--start", "app", "--fault", "refuse-boot"},
         {PortOutcome::SwitchRefused}},
        {"no boot loader",
         {"--start", "app", "--fault", "no-bootloader"},
         {PortOutcome::NoBootLoader}},
        {"port gone after the switch",
         {"--start", "app", "--vanish", "9000"},
         {PortOutcome::PortLost}},
    };
    const Scenario& chosen = scenarios[random() % (sizeof scenarios / sizeof scenarios[0])];
    run.kind = chosen.name;
    run.name = chosen.name + " (packet " + packet + " of " + std::to_string(packets) + ")";
    run.arguments = chosen.arguments;
    run.arguments.insert(run.arguments.end(), {"--boot-delay", "50"});
    run.expected = chosen.expected;
    return run;
}

std::size_t entriesIn(const char* folder) {
    std::size_t count = 0;
    if (DIR* directory = opendir(folder)) {
        while (readdir(directory) != nullptr) ++count;
        closedir(directory);
    }
    return count;
}

struct Finished {
    FlashResult result;
    double seconds = 0;
};

struct Active {
    SoakRun run;
    std::unique_ptr<DevsimProcess> device;
    std::future<Finished> finished;
};

Finished flashImage(const std::string& port, const std::vector<std::uint8_t>& bytes) {
    ImageBlock image;
    image.targetAddress = 0x108000;
    image.byteCount = static_cast<std::int32_t>(bytes.size());
    image.data = std::make_unique<std::uint8_t[]>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), image.data.get());
    const auto start = Clock::now();
    Finished finished;
    finished.result = flashDevice(port, &image, kFlags, FlashEvents{}, nullptr, kShortPauses);
    finished.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return finished;
}

TEST(FaultSoak, EveryRunEndsAsItsFaultCallsForAndNoSuccessIsFalse) {
    const std::uint32_t runs = setting("QUORVEL_SOAK_RUNS", 200);
    const std::uint32_t parallel = setting("QUORVEL_SOAK_PARALLEL", 24);
    const std::uint32_t seed = setting(
        "QUORVEL_SOAK_SEED", static_cast<std::uint32_t>(Clock::now().time_since_epoch().count()));
    const char* only = std::getenv("QUORVEL_SOAK_ONLY");
    std::printf("soak: seed %u, %u runs, %u at a time\n", seed, runs, parallel);

    const std::size_t descriptorsBefore = entriesIn("/proc/self/fd");
    const std::size_t threadsBefore = entriesIn("/proc/self/task");
    std::map<std::string, int> outcomes;
    int successes = 0, falseSuccesses = 0, unexpected = 0, slow = 0;
    double slowest = 0;

    std::vector<Active> active;
    int next = only != nullptr ? std::atoi(only) : 0;
    const int end = only != nullptr ? next + 1 : static_cast<int>(runs);
    while (next < end || !active.empty()) {
        // Simulators are started from this thread alone: starting one sets the
        // environment, which the jobs' threads must not see change.
        while (next < end && active.size() < parallel) {
            Active started;
            started.run = makeRun(seed, next++);
            started.device = std::make_unique<DevsimProcess>(started.run.arguments);
            if (!started.device->started()) return;
            started.finished = std::async(std::launch::async, flashImage,
                                          started.device->linkPath(), started.run.image);
            active.push_back(std::move(started));
        }
        for (auto it = active.begin(); it != active.end();) {
            if (it->finished.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
                ++it;
                continue;
            }
            const Finished finished = it->finished.get();
            const SoakRun& run = it->run;
            it->device->stop();  // the simulator writes its flash file as it ends
            const FlashResult& result = finished.result;
            const std::string replay = "run " + std::to_string(run.number) + " (" + run.name +
                                       "; replay with QUORVEL_SOAK_SEED=" + std::to_string(seed) +
                                       " QUORVEL_SOAK_ONLY=" + std::to_string(run.number) + ")";
            ++outcomes[run.kind];
            if (result.outcome == PortOutcome::Done) {
                ++successes;
                if (it->device->flash() != run.image) {
                    ++falseSuccesses;
                    ADD_FAILURE() << replay << ": reported success, but the flash differs";
                }
            }
            if (result.outcome != run.expected.outcome ||
                (run.expected.outcome == PortOutcome::TransferFailed &&
                 result.code() != run.expected.code)) {
                ++unexpected;
                ADD_FAILURE() << replay << ": outcome " << static_cast<int>(result.outcome)
                              << " code " << result.code() << ", expected outcome "
                              << static_cast<int>(run.expected.outcome) << " code "
                              << run.expected.code;
            }
            if (finished.seconds > kRunLimitSeconds) {
                ++slow;
                ADD_FAILURE() << replay << ": took " << finished.seconds << " s";
            }
            if (finished.seconds > slowest) slowest = finished.seconds;
            it = active.erase(it);
        }
    }

    std::printf(
        "soak: %d successes, %d false successes, %d unexpected outcomes, %d runs over "
        "%.0f s (slowest %.1f s)\n",
        successes, falseSuccesses, unexpected, slow, kRunLimitSeconds, slowest);
    for (const auto& [name, count] : outcomes)
        std::printf("soak:   %4d  %s\n", count, name.c_str());
    const std::size_t descriptorsAfter = entriesIn("/proc/self/fd");
    const std::size_t threadsAfter = entriesIn("/proc/self/task");
    std::printf("soak: descriptors %zu before, %zu after; threads %zu before, %zu after\n",
                descriptorsBefore, descriptorsAfter, threadsBefore, threadsAfter);
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_EQ(threadsAfter, threadsBefore);
}

}  // namespace
