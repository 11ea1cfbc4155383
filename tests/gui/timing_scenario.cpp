// How long a download of the largest CODE image takes through the dialog when
// the simulator paces the line at 115 200 baud, printed beside the bound the
// line rate sets: every byte on the wire both ways at 10 bits, plus the
// simulator's latency before each reply.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "dialog_state.h"
#include "download_steps.h"
#include "gui_session.h"
#include "scenarios.h"
#include "simulated_device.h"

namespace gui {

namespace {

constexpr DWORD kImageBytes = 212992;
constexpr double kBaud = 115200.0;
constexpr double kLatencySeconds = 0.001;  // devsim --latency 1
constexpr DWORD kTransferTimeoutMs = 120000;
constexpr DWORD kSlowWatchMs = 250;

struct WireCount {
    unsigned long long bytes = 0;  // both ways
    unsigned long replies = 0;
    unsigned long dataPackets = 0;
};

bool startsWith(const std::string& line, const char* prefix) { return line.rfind(prefix, 0) == 0; }

// Sizes from the transcript: commands, data packets (header, data, pad) and the
// end packet to the device; the negotiation and 16-byte acknowledgements back.
WireCount countWire(const std::vector<std::string>& lines) {
    WireCount count;
    for (const std::string& line : lines) {
        if (startsWith(line, "boot rx start") || startsWith(line, "boot rx block-start") ||
            startsWith(line, "boot rx end")) {
            count.bytes += 8;
        } else if (startsWith(line, "boot rx data")) {
            const std::size_t at = line.find("bytes=");
            const unsigned long data =
                at == std::string::npos ? 0 : std::strtoul(line.c_str() + at + 6, nullptr, 10);
            count.bytes += 20 + data + (4 - data % 4) % 4;
            ++count.dataPackets;
        } else if (startsWith(line, "boot tx negotiation")) {
            const std::size_t at = line.find("bytes=");
            count.bytes +=
                at == std::string::npos ? 0 : std::strtoul(line.c_str() + at + 6, nullptr, 10);
            ++count.replies;
        } else if (startsWith(line, "boot tx ack")) {
            count.bytes += 16;
            ++count.replies;
        }
    }
    return count;
}

}  // namespace

int downloadTimingScenario(const std::wstring& exe) {
    SimulatedDevice device;
    if (!check(device.ready(), "the simulated device is given")) return failures();
    QuorvelSession session(exe, L"QuorvelTiming");
    if (!session.ready()) return failures() + 1;
    HWND dialog = session.dialog();
    const ImageFile image(kImageBytes);
    if (!loadImage(session, image) || !connectDevice(dialog, device, L"boot v2.4.10.15")) {
        return failures();
    }

    const std::size_t mark = device.mark();
    const DWORD start = GetTickCount();
    click(dialog, IDC_DOWNLOAD);
    ProgressWatch watch;
    // A slow watch: scripts/benchmark.sh measures the dialog's CPU meanwhile.
    const bool completed = watchTransfer(dialog, kTransferTimeoutMs, watch, L"", kSlowWatchMs);
    const DWORD completedAt = GetTickCount();
    if (!check(completed, "the paced transfer completes")) return failures();

    const WireCount wire = countWire(device.linesSince(mark));
    const double elapsed = (completedAt - start) / 1000.0;
    const double lineTime = wire.bytes * 10.0 / kBaud;
    const double bound = lineTime + wire.replies * kLatencySeconds;
    char figures[300];
    std::snprintf(figures, sizeof figures,
                  "%lu bytes in %lu data packets: %llu bytes on the wire both ways, line time "
                  "%.2f s, with %lu replies at 1 ms latency %.2f s; DOWNLOAD to \"download "
                  "completed\" %.2f s (%.0f%% of the bound)",
                  kImageBytes, wire.dataPackets, wire.bytes, lineTime, wire.replies, bound, elapsed,
                  100.0 * elapsed / bound);
    note(figures);
    // Only the lower bound is checked: how near the line rate the download
    // comes depends on the machine's load (scripts/benchmark.sh reports it).
    check(elapsed >= lineTime, "the simulator paced the line");

    // The success steps are the other scenarios' concern: the session ends
    // during the pause, confirming the close.
    checkFlashHolds(device, image);
    return failures();
}

}  // namespace gui
