// Measures a 212 992-byte download into the simulator: paced at 115 200 baud
// with a 1 ms reply latency, against the line-rate bound, and unpaced. Not a
// test; run it by hand: transfer_benchmark
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/transfer.h"
#include "serial/serial_port.h"
#include "tests/support/devsim_process.h"

namespace {

constexpr std::int32_t kImageBytes = 212992;
constexpr std::uint32_t kPacketWords = 64;
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

Run download(const std::vector<std::string>& options, const ImageBlock& image) {
    DevsimProcess device(options);
    SerialPort* port = device.started() ? createPort(device.portNumber()) : nullptr;
    if (port == nullptr || port->handle == kInvalidPortHandle) {
        closePort(port);
        return {-1, 0, 0};
    }
    TransferSession session(port);
    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int result = transferImage(&image, session, nullptr, 0xA5A50000u, nullptr);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double cpu = cpuSeconds() - cpuBefore;
    closePort(port);
    return {result, elapsed.count(), cpu};
}

}  // namespace

int main() {
    ImageBlock image;
    image.targetAddress = 0x108000;
    image.byteCount = kImageBytes;
    image.data.reset(new std::uint8_t[kImageBytes]);
    for (std::int32_t i = 0; i < kImageBytes; ++i)
        image.data[i] = static_cast<std::uint8_t>(i * 13);

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

    const std::string packetWords = std::to_string(kPacketWords);
    const Run paced = download({"--start", "boot", "--max-packet-words", packetWords, "--baud",
                                std::to_string(kBaud), "--latency", std::to_string(kLatencyMs)},
                               image);
    std::printf(
        "paced   %u baud, %u ms latency: result %d, %.2f s (line-rate bound %.2f s: "
        "%lld bytes on the wire %.2f s + %lld replies x %u ms), %.1f%% of the bound; "
        "tool CPU %.2f s\n",
        kBaud, kLatencyMs, paced.result, paced.seconds, bound,
        static_cast<long long>(toDevice + fromDevice), wireSeconds, static_cast<long long>(replies),
        kLatencyMs, 100.0 * paced.seconds / bound, paced.cpu);

    const Run unpaced = download({"--start", "boot", "--max-packet-words", packetWords}, image);
    std::printf("unpaced: result %d, %.3f s, %.0f packets/s, %.2f MB/s; tool CPU %.2f s\n",
                unpaced.result, unpaced.seconds, static_cast<double>(packets) / unpaced.seconds,
                kImageBytes / unpaced.seconds / 1e6, unpaced.cpu);
    return paced.result == 0 && unpaced.result == 0 ? 0 : 1;
}
