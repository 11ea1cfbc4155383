// Measures quorvel-cli flashing a 212 992-byte image into simulated devices
// paced at 115 200 baud with a 1 ms reply latency: one device against the
// line-rate bound, then eight at once against the one. Not a test; run it by
// hand: cli_benchmark
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/cli/cli_process.h"
#include "tests/support/devsim_process.h"

namespace {

constexpr std::int64_t kImageBytes = 212992;
constexpr std::int64_t kPacketWords = 64;
constexpr std::int64_t kBaud = 115200;
constexpr std::int64_t kLatencyMs = 1;
constexpr int kGang = 8;

struct Run {
    bool ok = false;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    double longestTransferSeconds = 0;
};

Run flash(int devices, const std::string& imagePath, const std::vector<std::uint8_t>& image) {
    std::vector<std::unique_ptr<DevsimProcess>> simulators;
    std::vector<std::string> arguments{"flash", "--json", "--no-progress"};
    for (int i = 0; i < devices; ++i) {
        simulators.push_back(std::make_unique<DevsimProcess>(
            std::vector<std::string>{"--start", "boot", "--baud", std::to_string(kBaud),
                                     "--latency", std::to_string(kLatencyMs), "--max-packet-words",
                                     std::to_string(kPacketWords)},
            i + 1));
        if (!simulators.back()->started()) return {};
        arguments.push_back("--port");
        arguments.push_back(simulators.back()->linkPath());
    }
    arguments.push_back(imagePath);

    const auto start = std::chrono::steady_clock::now();
    const CliOutcome outcome = runCli(arguments, 300000);
    Run run;
    run.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = outcome.cpuSeconds;
    const nlohmann::json document = nlohmann::json::parse(outcome.out, nullptr, false);
    run.ok = outcome.status == 0 && !document.is_discarded();
    if (!run.ok) std::fprintf(stderr, "%s\n%s\n", outcome.out.c_str(), outcome.err.c_str());
    for (const auto& port : document.is_discarded() ? nlohmann::json::array() : document["ports"]) {
        const double seconds = port["seconds"];
        if (seconds > run.longestTransferSeconds) run.longestTransferSeconds = seconds;
    }
    for (auto& simulator : simulators) {
        simulator->stop();
        run.ok = run.ok && simulator->flash() == image;
    }
    return run;
}

}  // namespace

int main() {
    const std::string folder = "/tmp/quorvel-cli-benchmark";
    std::filesystem::create_directories(folder);
    const std::string imagePath = folder + "/image.bin";
    std::vector<std::uint8_t> image(kImageBytes);
    for (std::int64_t i = 0; i < kImageBytes; ++i)
        image[i] = static_cast<std::uint8_t>(i * 13 + (i >> 9));
    std::ofstream(imagePath, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), kImageBytes);

    // Bytes on the wire in both directions, and replies that each wait the latency.
    const std::int64_t chunk = 4 * kPacketWords - 20;
    const std::int64_t packets = (kImageBytes + chunk - 1) / chunk;
    const std::int64_t lastData = kImageBytes - (packets - 1) * chunk;
    const std::int64_t dataPacketBytes =
        (packets - 1) * 4 * kPacketWords + 20 + (lastData + 3) / 4 * 4;
    const std::int64_t toDevice = 8 + 8 + dataPacketBytes + 8;
    const std::int64_t fromDevice = 16 + 8 + 16 + packets * 16 + 16;
    const std::int64_t replies = 1 + packets + 1;
    const double wireSeconds = static_cast<double>(toDevice + fromDevice) * 10.0 / kBaud;
    const double bound = wireSeconds + static_cast<double>(replies * kLatencyMs) / 1000.0;
    // Detection of a device already in its boot loader, then the settling pause.
    const double fixedPause = 7.0;

    const Run one = flash(1, imagePath, image);
    std::printf(
        "one device, %lld baud, %lld ms latency: %s; transfer %.2f s against the line-rate bound "
        "%.2f s (%lld bytes on the wire %.2f s + %lld replies x %lld ms) = %.1f%%; whole run %.2f "
        "s "
        "(of which the fixed %.0f s pause after the download); CLI CPU %.2f s\n",
        static_cast<long long>(kBaud), static_cast<long long>(kLatencyMs), one.ok ? "ok" : "FAILED",
        one.longestTransferSeconds, bound, static_cast<long long>(toDevice + fromDevice),
        wireSeconds, static_cast<long long>(replies), static_cast<long long>(kLatencyMs),
        100.0 * one.longestTransferSeconds / bound, one.wallSeconds, fixedPause, one.cpuSeconds);

    const Run gang = flash(kGang, imagePath, image);
    std::printf(
        "%d devices at once: %s; whole run %.2f s = %.3f x the one device's (target <= 1.05); "
        "slowest "
        "transfer %.2f s = %.3f x; CLI CPU %.2f s in total\n",
        kGang, gang.ok ? "ok" : "FAILED", gang.wallSeconds, gang.wallSeconds / one.wallSeconds,
        gang.longestTransferSeconds, gang.longestTransferSeconds / one.longestTransferSeconds,
        gang.cpuSeconds);
    std::filesystem::remove_all(folder);
    return one.ok && gang.ok ? 0 : 1;
}
