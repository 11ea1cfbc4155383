// Measures a 212 992-byte download into the simulator: paced at 115 200 baud
// with a 1 ms reply latency, by the tool's transfer and by a bare client that
// only writes prepared packets and reads the replies, against the same device
// settings, so the ratio tool/bare comes from one run; the same paced transfer
// behind a USB adapter whose latency timer is 16 ms (the FTDI default) and
// 1 ms; then unpaced. Not a test; run it by hand: transfer_benchmark [runs]
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/benchmark_download.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"
#include "tests/support/devsim_process.h"

namespace {

constexpr std::int32_t kImageBytes = kBenchmarkImageBytes;
constexpr std::uint32_t kPacketWords = kBenchmarkPacketWords;
constexpr std::uint32_t kBaud = 115200;
constexpr std::uint32_t kLatencyMs = 1;

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Run {
    int result;
    double seconds;
    double cpu;
};

using Client = int (*)(SerialPort* port, const ImageBlock& image);

int toolClient(SerialPort* port, const ImageBlock& image) {
    TransferSession session(port);
    return displayCode(transferImage(&image, session, nullptr, kBenchmarkFlags, nullptr));
}

bool writeWhole(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else {
            pollfd ready{fd, POLLOUT, 0};
            if (poll(&ready, 1, 1000) != 1) return false;
        }
    }
    return true;
}

bool readExactly(int fd, std::size_t count) {
    std::uint8_t buffer[256];
    while (count > 0) {
        const ssize_t n = read(fd, buffer, count < sizeof buffer ? count : sizeof buffer);
        if (n > 0) {
            count -= static_cast<std::size_t>(n);
        } else {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, 5000) != 1) return false;
        }
    }
    return true;
}

const BareConversation* conversation = nullptr;

// Writes each packet and reads its fixed-size reply, nothing else.
int bareClient(SerialPort* port, const ImageBlock&) {
    const int fd = static_cast<int>(port->handle);
    if (!writeWhole(fd, conversation->opening) || !readExactly(fd, kOpeningReplyBytes)) return -1;
    for (const std::vector<std::uint8_t>& packet : conversation->packets) {
        if (!writeWhole(fd, packet) || !readExactly(fd, kPacketReplyBytes)) return -1;
    }
    return 0;
}

Run download(const std::vector<std::string>& options, const ImageBlock& image, Client client) {
    DevsimProcess device(options);
    SerialPort* port = device.started() ? createPort(device.portNumber()) : nullptr;
    if (port == nullptr || port->handle == kInvalidPortHandle) {
        closePort(port);
        return {-1, 0, 0};
    }
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    int result = client(port, image);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = cpuSeconds() - cpuBefore;
    closePort(port);
    device.stop();
    if (result == 0 && device.flash().size() != static_cast<std::size_t>(image.byteCount)) {
        result = -2;  // the device did not take the whole image
    }
    return {result, elapsed.count(), cpu};
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 1;
    const ImageBlock image = benchmarkImage();
    const BareConversation prepared = bareConversation(image);
    conversation = &prepared;

    // Bytes on the wire in both directions, and replies that each wait the latency.
    const std::int64_t chunk = 4 * kPacketWords - 20;
    const std::int64_t packets = (kImageBytes + chunk - 1) / chunk;
    const std::int64_t lastData = kImageBytes - (packets - 1) * chunk;
    const std::int64_t dataPacketBytes =
        (packets - 1) * 4 * kPacketWords + 20 + (lastData + 3) / 4 * 4;
    const std::int64_t toDevice = 8 + 8 + dataPacketBytes + 8;  // start, block start, data, end
    const std::int64_t fromDevice = 16 + 8 + 16 + packets * 16 + 16;  // negotiation, acks, end ack
    const std::int64_t replies = 1 + packets + 1;
    const double wireSeconds = static_cast<double>(toDevice + fromDevice) * 10.0 / kBaud;
    const double bound = wireSeconds + static_cast<double>(replies * kLatencyMs) / 1000.0;
    std::printf("line-rate bound %.2f s: %lld bytes on the wire %.2f s + %lld replies x %u ms\n",
                bound, static_cast<long long>(toDevice + fromDevice), wireSeconds,
                static_cast<long long>(replies), kLatencyMs);

    const std::string packetWords = std::to_string(kPacketWords);
    const std::vector<std::string> paced = {"--start",
                                            "boot",
                                            "--max-packet-words",
                                            packetWords,
                                            "--baud",
                                            std::to_string(kBaud),
                                            "--latency",
                                            std::to_string(kLatencyMs)};
    bool allPassed = true;
    double pacedToolSeconds = 0;
    std::vector<double> ratios, cpuShares;
    for (int run = 1; run <= runs; ++run) {
        // Alternate the order so that a drift of the machine's load favours neither.
        const bool bareFirst = run % 2 == 0;
        Run bare{}, tool{};
        if (bareFirst) bare = download(paced, image, &bareClient);
        tool = download(paced, image, &toolClient);
        if (!bareFirst) bare = download(paced, image, &bareClient);
        std::printf(
            "paced   %u baud, %u ms latency: tool %.3f s (%.1f%% of the bound), bare client "
            "%.3f s (%.1f%%); tool/bare throughput %.4f; tool CPU %.3f s = %.2f%% of a core; "
            "results %d/%d\n",
            kBaud, kLatencyMs, tool.seconds, 100.0 * tool.seconds / bound, bare.seconds,
            100.0 * bare.seconds / bound, bare.seconds / tool.seconds, tool.cpu,
            100.0 * tool.cpu / tool.seconds, tool.result, bare.result);
        allPassed = allPassed && tool.result == 0 && bare.result == 0;
        if (run == 1) pacedToolSeconds = tool.seconds;
        ratios.push_back(bare.seconds / tool.seconds);
        cpuShares.push_back(100.0 * tool.cpu / tool.seconds);
    }
    if (runs > 1) {
        // The simulator's pacing wanders by about a percent from run to run.
        std::sort(ratios.begin(), ratios.end());
        std::sort(cpuShares.begin(), cpuShares.end());
        std::printf(
            "paced, median of %d runs: tool/bare throughput %.4f; tool CPU %.2f%% of a core\n",
            runs, ratios[ratios.size() / 2], cpuShares[cpuShares.size() / 2]);
    }

    // Every reply is shorter than the adapter's 62-byte burst, so each waits for its timer.
    for (const std::uint32_t adapterMs : {16u, 1u}) {
        std::vector<std::string> behindAdapter = paced;
        behindAdapter.push_back("--adapter-latency");
        behindAdapter.push_back(std::to_string(adapterMs));
        const Run tool = download(behindAdapter, image, &toolClient);
        std::printf(
            "paced   %u baud, %u ms latency, adapter latency timer %2u ms: tool %.3f s, %+.3f s "
            "against no adapter (%.2f ms per reply); result %d\n",
            kBaud, kLatencyMs, adapterMs, tool.seconds, tool.seconds - pacedToolSeconds,
            1000.0 * (tool.seconds - pacedToolSeconds) / static_cast<double>(replies), tool.result);
        allPassed = allPassed && tool.result == 0;
    }

    const std::vector<std::string> unpaced = {"--start", "boot", "--max-packet-words", packetWords};
    const Run tool = download(unpaced, image, &toolClient);
    const Run bare = download(unpaced, image, &bareClient);
    std::printf(
        "unpaced: tool %.3f s, %.0f packets/s, %.2f MB/s, CPU %.2f s; bare client %.3f s, "
        "%.0f packets/s; results %d/%d\n",
        tool.seconds, static_cast<double>(packets) / tool.seconds, kImageBytes / tool.seconds / 1e6,
        tool.cpu, bare.seconds, static_cast<double>(packets) / bare.seconds, tool.result,
        bare.result);
    allPassed = allPassed && tool.result == 0 && bare.result == 0;
    return allPassed ? 0 : 1;
}
