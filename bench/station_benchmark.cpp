// Measures quorvel-cli station on 32 slots (or as many as given) of simulated
// boards paced at 115 200 baud. An operator per slot takes a finished board
// away as soon as its result shows and puts the next one on after a swap time
// drawn from 3-8 s. Reports boards per hour per slot against the ideal
// 3600 / (swap time + the single-board cycle time, measured in the same run
// with quorvel-cli flash), the time from placement to the start of the
// transfer, the time from a board's removal to its slot being armed again,
// and the station's CPU. Not a test; run it by hand:
//   station_benchmark [seconds, default 300] [slots, default 32]
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kImageBytes = 65536;
const std::vector<std::string> kPacedBoot{"--baud", "115200", "--latency", "1", "--times"};

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t index = static_cast<std::size_t>(fraction * (values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// "... t=123.456789" at the end of a transcript line: the simulator's monotonic clock.
double stamp(const std::string& line) {
    const std::size_t at = line.rfind(" t=");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + 3);
}

// Seconds from each "place board n" to the first start command after it.
std::vector<double> placementToTransfer(const std::string& transcript) {
    std::vector<double> delays;
    double placedAt = -1;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("place board") != std::string::npos) placedAt = stamp(line);
        if (line.find("boot rx start") != std::string::npos && placedAt >= 0) {
            delays.push_back(stamp(line) - placedAt);
            placedAt = -1;
        }
    }
    return delays;
}

struct Operator {
    std::mutex mutex;
    std::condition_variable changed;
    int results = 0;  // results shown on this slot
    Clock::time_point firstResult;
    Clock::time_point lastResult;
    bool removed = false;  // the board was taken away; the slot is not armed again yet
    Clock::time_point removedAt;
    std::vector<double> rearms;  // seconds from each removal to "waiting" on the board
};

}  // namespace

int main(int argc, char** argv) {
    const double runSeconds = argc > 1 ? std::atof(argv[1]) : 300;
    const int kSlots = argc > 2 ? std::atoi(argv[2]) : 32;
    TempFolder folder;
    const std::string imagePath = folder.write("image.bin", text(pattern(kImageBytes, 77)));

    // The single-board cycle: one board in its boot loader, flashed alone.
    double singleCycle = 0;
    double singleTransfer = 0;
    {
        std::vector<std::string> options{"--start", "boot"};
        options.insert(options.end(), kPacedBoot.begin(), kPacedBoot.end());
        DevsimProcess device(options, 1);
        const auto start = Clock::now();
        const CliOutcome run = runCli(
            {"flash", "--json", "--no-progress", "--port", device.linkPath(), imagePath}, 120000);
        singleCycle = secondsSince(start);
        const nlohmann::json document = nlohmann::json::parse(run.out, nullptr, false);
        if (!document.is_discarded()) singleTransfer = document["ports"][0]["seconds"];
        if (run.status != 0) {
            std::fprintf(stderr, "single flash failed:\n%s\n", run.err.c_str());
            return 1;
        }
    }

    std::vector<std::unique_ptr<DevsimProcess>> devices;
    std::vector<std::string> arguments{"station", "--json", "--no-progress"};
    for (int i = 0; i < kSlots; ++i) {
        std::vector<std::string> options{"--start", "none"};
        options.insert(options.end(), kPacedBoot.begin(), kPacedBoot.end());
        devices.push_back(std::make_unique<DevsimProcess>(options, i + 1));
        if (!devices.back()->started()) return 1;
        arguments.push_back("--port");
        arguments.push_back(devices.back()->linkPath());
    }
    arguments.push_back(imagePath);

    CliProcess station(arguments);
    std::vector<Operator> operators(static_cast<std::size_t>(kSlots));
    std::vector<std::vector<double>> swaps(static_cast<std::size_t>(kSlots));
    bool running = true;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int slot = 0; slot < kSlots; ++slot) {
        threads.emplace_back([&, slot] {
            std::mt19937 random(1234u + static_cast<unsigned>(slot));
            std::uniform_real_distribution<double> swapTime(3.0, 8.0);
            int seen = 0;
            Clock::time_point resultSeen = Clock::now();
            for (bool first = true; running; first = false) {
                const double swap = swapTime(random);
                std::this_thread::sleep_for(std::chrono::duration<double>(first ? swap / 2 : swap));
                if (!running || secondsSince(start) > runSeconds) break;
                devices[slot]->control("place boot");
                // The operator's whole swap: from seeing the result to the next board in place.
                if (!first) swaps[slot].push_back(secondsSince(resultSeen));
                std::unique_lock<std::mutex> lock(operators[slot].mutex);
                operators[slot].changed.wait(
                    lock, [&] { return !running || operators[slot].results > seen; });
                seen = operators[slot].results;
                resultSeen = Clock::now();
                lock.unlock();
                // Done within 5 ms of the simulator carrying it out.
                devices[slot]->control("remove");
                lock.lock();
                operators[slot].removedAt = Clock::now();
                operators[slot].removed = true;
            }
        });
    }

    std::map<std::string, int> slotOf;
    for (int i = 0; i < kSlots; ++i) slotOf[devices[i]->linkPath()] = i;
    std::size_t parsed = 0;
    std::size_t parsedErr = 0;
    int passed = 0;
    int failed = 0;
    double transferSum = 0;
    while (secondsSince(start) < runSeconds + 40) {
        station.waitForError("\x01never\x01", 20);  // collects output for 20 ms
        const std::string& out = station.soFar().out;
        for (std::size_t end; (end = out.find('\n', parsed)) != std::string::npos;
             parsed = end + 1) {
            const nlohmann::json record =
                nlohmann::json::parse(out.substr(parsed, end - parsed), nullptr, false);
            if (!record.is_object() || record.value("event", "") != "result") continue;
            (record["ok"] == true ? passed : failed) += 1;
            transferSum += record["seconds"].get<double>();
            Operator& slot = operators[static_cast<std::size_t>(slotOf[record["port"]])];
            std::lock_guard<std::mutex> lock(slot.mutex);
            if (slot.results++ == 0) slot.firstResult = Clock::now();
            slot.lastResult = Clock::now();
            slot.changed.notify_all();
        }
        // The board's lines: "<port>  waiting" once a slot is armed again.
        const std::string& err = station.soFar().err;
        for (std::size_t end; (end = err.find('\n', parsedErr)) != std::string::npos;
             parsedErr = end + 1) {
            const std::string line = err.substr(parsedErr, end - parsedErr);
            const std::size_t gap = line.find("  waiting");
            if (gap == std::string::npos || gap + 9 != line.size()) continue;
            const auto found = slotOf.find(line.substr(0, gap));
            if (found == slotOf.end()) continue;
            Operator& slot = operators[static_cast<std::size_t>(found->second)];
            std::lock_guard<std::mutex> lock(slot.mutex);
            if (slot.removed) slot.rearms.push_back(secondsSince(slot.removedAt));
            slot.removed = false;
        }
        if (secondsSince(start) > runSeconds) {
            bool idle = true;
            for (auto& slot : operators) {
                std::lock_guard<std::mutex> lock(slot.mutex);
                idle = idle && slot.results > 0;
            }
            if (idle) break;
        }
    }
    const double elapsed = secondsSince(start);
    running = false;
    for (auto& slot : operators) slot.changed.notify_all();
    for (std::thread& thread : threads) thread.join();
    station.interrupt();
    const CliOutcome outcome = station.finish(60000);

    std::vector<double> delays;
    std::vector<double> swapAll;
    std::vector<double> rearms;
    double actualPerSlot = 0;
    double steadyPerSlot = 0;  // between each slot's first and last result: no start or end edge
    double idealPerSlot = 0;
    for (int slot = 0; slot < kSlots; ++slot) {
        const std::vector<double> slotDelays = placementToTransfer(devices[slot]->transcript());
        delays.insert(delays.end(), slotDelays.begin(), slotDelays.end());
        swapAll.insert(swapAll.end(), swaps[slot].begin(), swaps[slot].end());
        rearms.insert(rearms.end(), operators[slot].rearms.begin(), operators[slot].rearms.end());
        actualPerSlot += operators[slot].results * 3600.0 / elapsed / kSlots;
        const Operator& done = operators[slot];
        const double span =
            std::chrono::duration<double>(done.lastResult - done.firstResult).count();
        if (done.results > 1 && span > 0)
            steadyPerSlot += (done.results - 1) * 3600.0 / span / kSlots;
    }
    double meanSwap = 0;
    for (double swap : swapAll)
        meanSwap += swap / static_cast<double>(std::max<std::size_t>(swapAll.size(), 1));
    idealPerSlot = 3600.0 / (meanSwap + singleCycle);
    std::printf("station_benchmark: %d slots, %.0f s, %zu-byte image at 115 200 baud\n", kSlots,
                elapsed, kImageBytes);
    std::printf("  boards: %d passed, %d failed; single-board cycle %.2f s; mean swap %.2f s\n",
                passed, failed, singleCycle, meanSwap);
    std::printf("  transfer: %.2f s alone, %.2f s on average in the station\n", singleTransfer,
                transferSum / std::max(passed + failed, 1));
    std::printf("  boards per hour per slot: %.1f, ideal %.1f: %.3f x the ideal\n", actualPerSlot,
                idealPerSlot, actualPerSlot / idealPerSlot);
    std::printf("  the same between each slot's first and last result: %.1f, %.3f x the ideal\n",
                steadyPerSlot, steadyPerSlot / idealPerSlot);
    std::printf(
        "  placement to transfer start: median %.2f s, 95th percentile %.2f s (%zu boards)\n",
        percentile(delays, 0.5), percentile(delays, 0.95), delays.size());
    std::printf("  removal to armed again: median %.2f s, 95th percentile %.2f s (%zu removals)\n",
                percentile(rearms, 0.5), percentile(rearms, 0.95), rearms.size());
    std::printf("  station CPU: %.2f s in %.0f s = %.2f %% of one core; exit status %d\n",
                outcome.cpuSeconds, elapsed, 100.0 * outcome.cpuSeconds / elapsed, outcome.status);
    return outcome.status == 0 && failed == 0 ? 0 : 1;
}
