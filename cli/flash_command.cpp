// quorvel-cli flash: the image onto every port given, one thread per port.
#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "cli/port_result.h"
#include "cli/progress_board.h"
#include "cli/system.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"
#include "image/code_image.h"
#include "serial/port_listing.h"

namespace {

std::string joinPorts(const std::vector<std::string>& ports) {
    std::string joined;
    for (const std::string& port : ports) joined += (joined.empty() ? "" : ", ") + port;
    return joined;
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
            printJson(document, 2);
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
        const int portStatus = statusNumber(outcomeStatus(results[i].outcome));
        if (status == kExitSuccess) status = portStatus;
        if (results[i].outcome == PortOutcome::Stopped) unfinished.push_back(options.ports[i]);
    }

    if (options.json) {
        Json ports = Json::array();
        for (std::size_t i = 0; i < results.size(); ++i) {
            if (!facts[i].known) facts[i] = lookUpPort(options.ports[i]);
            ports.push_back(flashRecordJson(options.ports[i], facts[i], results[i]));
        }
        const Json document = {{"image", describeImage(options.imagePath, image)},
                               {"ports", ports}};
        printJson(document, 2);
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
