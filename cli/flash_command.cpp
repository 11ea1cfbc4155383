// quorvel-cli flash: the image onto every port given, one thread per port.
#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/progress_board.h"
#include "cli/system.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"
#include "image/code_image.h"
#include "serial/port_listing.h"

namespace {

using Json = nlohmann::ordered_json;

std::string hexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06" PRIx32, value);
    return text;
}

Json describeImage(const std::string& path, const CodeImage& image) {
    Json blocks = Json::array();
    for (const auto& block : image.blocks) {
        blocks.push_back({{"address", hexWord(block->targetAddress)}, {"bytes", block->byteCount}});
    }
    Json described = {{"path", path},
                      {"format", image.format == CodeImageFormat::IntelHex ? "hex" : "bin"},
                      {"bytes", image.byteCount()},
                      {"blocks", blocks},
                      {"flags", hexWord(image.downloadFlags)}};
    if (image.outcome != ImageOutcome::Loaded) described["error"] = image.message;
    return described;
}

std::string joinPorts(const std::vector<std::string>& ports) {
    std::string joined;
    for (const std::string& port : ports) joined += (joined.empty() ? "" : ", ") + port;
    return joined;
}

double bytesPerSecond(const FlashResult& result) {
    return result.transferSeconds > 0 ? result.sentBytes / result.transferSeconds : 0;
}

// What a port name stood for the last time its port was open (or, for a port
// that never opened, after the job): the device it resolved to and the
// adapter's entry in the port listing.
struct PortFacts {
    bool known = false;
    std::string device;  // empty when a usb: name resolved to nothing
    ListedPort adapter;
};

PortFacts lookUpPort(const std::string& port) {
    PortFacts facts;
    facts.known = true;
    const std::vector<ListedPort> listing = listPorts();
    std::string error;
    if (!resolvePortName(port, listing, facts.device, error)) return facts;
    if (const ListedPort* entry = findListedPort(facts.device, listing)) facts.adapter = *entry;
    return facts;
}

Json describePort(const std::string& port, const PortFacts& facts, const FlashResult& result) {
    const bool ok = result.outcome == PortOutcome::Done;
    Json described = {{"port", port},
                      {"device", facts.device.empty() ? Json() : Json(facts.device)}};
    if (isUsbPortName(port)) {
        described["usb_id"] = facts.adapter.usbId;
        described["serial_number"] = facts.adapter.serialNumber;
    }
    const Json outcome = {{"ok", ok},
                          {"code", result.code()},
                          {"os_error", result.osError},
                          {"message", result.message},
                          {"device_before", describeDevice(result.before)},
                          {"device_after", describeDevice(result.after)},
                          {"bytes", result.sentBytes},
                          {"seconds", result.transferSeconds},
                          {"bytes_per_second", bytesPerSecond(result)},
                          {"status", exitStatusFor(result.outcome)},
                          {"detail", failureDetail(result)}};
    described.update(outcome);
    return described;
}

std::string resultLine(const std::string& port, const FlashResult& result) {
    char figures[128];
    std::snprintf(figures, sizeof figures, "%d bytes in %.2f s (%.0f bytes/s)", result.sentBytes,
                  result.transferSeconds, bytesPerSecond(result));
    if (result.outcome == PortOutcome::Done) {
        std::string line = port + ": ok, " + figures + "; " + describeDevice(result.before) +
                           " -> " + describeDevice(result.after);
        if (result.settleCut) line += "; " + failureDetail(result);
        return line;
    }
    if (result.outcome == PortOutcome::Stopped) return port + ": interrupted, not finished";
    std::string line = port + ": failed (exit status " +
                       std::to_string(exitStatusFor(result.outcome)) +
                       "): " + failureDetail(result);
    if (result.transferred) line += "; " + std::string(figures) + " before the failure";
    return line;
}

const char* stepText(FlashStep step) {
    switch (step) {
        case FlashStep::Detecting:
            return "detecting the device";
        case FlashStep::SwitchingToBootLoader:
            return "switching to the boot loader";
        case FlashStep::Transferring:
            return "writing";
        case FlashStep::Settling:
            return "waiting 7 s while the device stores the image";
        case FlashStep::Redetecting:
            return "detecting the device again";
        case FlashStep::Disconnecting:
            return "disconnecting";
    }
    return "";
}

FlashResult flashOnePort(const std::string& port, std::size_t index, const CodeImage& image,
                         ProgressBoard& board, PortFacts& facts, const std::atomic<bool>& stop) {
    FlashEvents events;
    events.step = [&board, &facts, &port, index](FlashStep step) {
        // The port is open at these steps: a usb: name has just been resolved,
        // and Linux's low-latency mode is on, which the adapter's timer shows.
        if (step == FlashStep::Detecting || step == FlashStep::Transferring) {
            facts = lookUpPort(port);
        }
        if (step == FlashStep::Transferring) {
            const std::string warning = latencyWarning(facts.adapter);
            if (!warning.empty()) board.note(index, warning);
            board.transferStarted(index);
        }
        board.state(index, stepText(step));
    };
    events.log = [&board, index](const std::string& line) { board.note(index, singleLine(line)); };
    events.notice = [&board, index](const std::string& message) {
        board.note(index, singleLine(message));
    };
    events.progress = [&board, index](std::int32_t sent, std::int32_t total) {
        board.progress(index, sent, total);
    };
    FlashResult result = flashDevice(port, image.first(), image.downloadFlags, events, &stop);
    board.state(index, result.outcome == PortOutcome::Done      ? "done"
                       : result.outcome == PortOutcome::Stopped ? "interrupted"
                                                                : "failed");
    return result;
}

}  // namespace

int runFlashCommand(const FlashOptions& options, std::atomic<bool>& stop) {
    const CodeImage image = loadCodeImage(widePath(options.imagePath));
    if (image.outcome != ImageOutcome::Loaded) {
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", options.imagePath.c_str(),
                     singleLine(image.message).c_str());
        if (options.json) {
            const Json document = {{"image", describeImage(options.imagePath, image)},
                                   {"ports", Json::array()}};
            std::printf("%s\n",
                        document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
        }
        return kExitImage;
    }
    std::fprintf(stderr, "image %s: %" PRId64 " bytes in %zu block(s)\n", options.imagePath.c_str(),
                 image.byteCount(), image.blocks.size());
    // Ctrl-C while the image was read: no port is touched.
    if (stop.load()) {
        std::fprintf(stderr, "quorvel-cli: interrupted; not finished: %s\n",
                     joinPorts(options.ports).c_str());
        return kExitInterrupted;
    }

    const bool inPlace = !options.plainProgress && errorStreamIsTerminal();
    ProgressBoard board(options.ports,
                        inPlace ? ProgressBoard::Style::InPlace : ProgressBoard::Style::Plain,
                        stderr);
    std::vector<FlashResult> results(options.ports.size());
    std::vector<PortFacts> facts(options.ports.size());
    {
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < options.ports.size(); ++i) {
            workers.emplace_back([&, i] {
                results[i] = flashOnePort(options.ports[i], i, image, board, facts[i], stop);
            });
        }
        for (std::thread& worker : workers) worker.join();
    }

    int status = kExitSuccess;
    std::vector<std::string> unfinished;
    for (std::size_t i = 0; i < results.size(); ++i) {
        const int portStatus = exitStatusFor(results[i].outcome);
        if (status == kExitSuccess) status = portStatus;
        if (results[i].outcome == PortOutcome::Stopped) unfinished.push_back(options.ports[i]);
    }

    if (options.json) {
        Json ports = Json::array();
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (!facts[i].known) facts[i] = lookUpPort(options.ports[i]);
            ports.push_back(describePort(options.ports[i], facts[i], results[i]));
        }
        const Json document = {{"image", describeImage(options.imagePath, image)},
                               {"ports", ports}};
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
        for (std::size_t i = 0; i < results.size(); ++i) {
            std::printf("%s\n", resultLine(options.ports[i], results[i]).c_str());
        }
    }
    std::fflush(stdout);

    if (stop.load()) {
        std::fprintf(stderr, "quorvel-cli: interrupted; not finished: %s\n",
                     unfinished.empty() ? "none" : joinPorts(unfinished).c_str());
        return kExitInterrupted;
    }
    return status;
}
