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
#include "flashing/flash_request.h"
#include "flashing/messages.h"
#include "image/code_image.h"

namespace {

std::string joinPorts(const std::vector<std::string>& ports) {
    std::string joined;
    for (const std::string& port : ports) joined += (joined.empty() ? "" : ", ") + port;
    return joined;
}

FlashRecord flashOnePort(const std::string& port, std::size_t index, const CodeImage& image,
                         ProgressBoard& board, std::atomic<bool>& stop) {
    FlashRequest request;
    request.port = port;
    request.firstBlock = image.first();
    request.downloadFlags = image.downloadFlags;
    request.latencyWarned = [&board, index](const std::string& warning) {
        board.note(index, warning);
    };
    FlashEvents events;
    events.step = [&board, index](FlashStep step) {
        if (step == FlashStep::Transferring) board.transferStarted(index);
        board.state(index, stepText(step));
    };
    events.log = [&board, index](const std::string& line) { board.note(index, singleLine(line)); };
    events.notice = [&board, index](const std::string& message) {
        board.note(index, singleLine(message));
    };
    events.progress = [&board, index](std::int32_t sent, std::int32_t total) {
        board.progress(index, sent, total);
    };
    FlashRecord record = flashPort(request, events, &stop);
    const PortOutcome outcome = record.result.outcome;
    board.state(index, outcome == PortOutcome::Done      ? "done"
                       : outcome == PortOutcome::Stopped ? "interrupted"
                                                         : "failed");
    return record;
}

// Every port at once, one thread each, under one progress board.
std::vector<FlashRecord> flashAllPorts(const FlashOptions& options, const CodeImage& image,
                                       std::atomic<bool>& stop) {
    const bool inPlace = !options.plainProgress && errorStreamIsTerminal();
    ProgressBoard board(options.ports,
                        inPlace ? ProgressBoard::Style::InPlace : ProgressBoard::Style::Plain,
                        stderr);
    std::vector<FlashRecord> records(options.ports.size());
    {
        std::vector<std::thread> workers;
        for (std::size_t i = 0; i < options.ports.size(); ++i) {
            workers.emplace_back(
                [&, i] { records[i] = flashOnePort(options.ports[i], i, image, board, stop); });
        }
        for (std::thread& worker : workers) worker.join();
    }
    return records;
}

// The records on standard output: one JSON document, or a line per port.
void printRecords(const FlashOptions& options, const CodeImage& image,
                  const std::vector<FlashRecord>& records) {
    if (options.json) {
        Json ports = Json::array();
        for (const FlashRecord& record : records) ports.push_back(flashRecordJson(record));
        const Json document = {{"image", describeImage(options.imagePath, image)},
                               {"ports", ports}};
        printJson(document, 2);
    } else {
        for (const FlashRecord& record : records) {
            std::printf("%s\n", resultLine(record.port, record.result).c_str());
        }
    }
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

    const std::vector<FlashRecord> records = flashAllPorts(options, image, stop);
    int status = kExitSuccess;
    std::vector<std::string> unfinished;
    for (const FlashRecord& record : records) {
        if (status == kExitSuccess) status = statusNumber(record.status);
        if (record.result.outcome == PortOutcome::Stopped) unfinished.push_back(record.port);
    }

    printRecords(options, image, records);
    std::fflush(stdout);

    if (stop.load()) {
        std::fprintf(stderr, "quorvel-cli: interrupted; not finished: %s\n",
                     unfinished.empty() ? "none" : joinPorts(unfinished).c_str());
        return kExitInterrupted;
    }
    return status;
}
