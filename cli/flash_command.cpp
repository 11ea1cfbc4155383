// quorvel-cli flash: the image onto every port given, one thread per port.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <thread>

#include "cli/command_line.h"
#include "cli/json_output.h"
#include "cli/port_result.h"
#include "cli/progress_board.h"
#include "cli/system.h"
#include "flashing/flash_request.h"
#include "flashing/messages.h"
#include "flashing/status.h"
#include "image/code_image.h"

namespace {

struct FlashOptions {
    std::vector<std::string> ports;  // in the order given
    std::string imagePath;           // UTF-8
    bool json = false;
    bool plainProgress = false;  // a line per 10 % even on a terminal
};

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
        board.state(index, flashStepText(step));
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
        const Json document = {{"image", imageJson(options.imagePath, image)}, {"ports", ports}};
        printJson(document);
    } else {
        for (const FlashRecord& record : records) {
            std::printf("%s\n", portSummaryLine(record.port, record.result).c_str());
        }
    }
}

int runFlashCommand(const FlashOptions& options, std::atomic<bool>& stop) {
    const CodeImage image = loadCodeImage(widePath(options.imagePath));
    if (image.outcome != ImageOutcome::Loaded) {
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", options.imagePath.c_str(),
                     singleLine(image.message).c_str());
        if (options.json) {
            const Json document = {{"image", imageJson(options.imagePath, image)},
                                   {"ports", Json::array()}};
            printJson(document);
        }
        return kStatusBadImage;
    }
    std::fprintf(stderr, "image %s: %" PRId64 " bytes in %zu block(s)\n", options.imagePath.c_str(),
                 image.byteCount(), image.blocks.size());
    // Ctrl-C while the image was read: no port is touched.
    if (stop.load()) {
        std::fprintf(stderr, "quorvel-cli: interrupted; not finished: %s\n",
                     joinPorts(options.ports).c_str());
        return kStatusInterrupted;
    }

    const std::vector<FlashRecord> records = flashAllPorts(options, image, stop);
    int status = kStatusOk;
    std::vector<std::string> unfinished;
    for (const FlashRecord& record : records) {
        if (status == kStatusOk) status = statusNumber(record.status);
        if (record.result.outcome == PortOutcome::Stopped) unfinished.push_back(record.port);
    }

    printRecords(options, image, records);
    std::fflush(stdout);

    if (stop.load()) {
        std::fprintf(stderr, "quorvel-cli: interrupted; not finished: %s\n",
                     unfinished.empty() ? "none" : joinPorts(unfinished).c_str());
        return kStatusInterrupted;
    }
    return status;
}

}  // namespace

Subcommand addFlashCommand(CLI::App& app) {
    auto options = std::make_shared<FlashOptions>();
    CLI::App* flash = app.add_subcommand(
        "flash", "Write an image (.bin or .hex) into the device on every port given");
    addPortListOption(*flash, options->ports, "; repeat it or give a comma list");
    flash->add_flag("--json", options->json, "Print one JSON document");
    flash->add_flag(
        "--no-progress", options->plainProgress,
        "A plain progress line per port at every 10 % instead of lines redrawn in place");
    flash
        ->add_option("IMAGE", options->imagePath,
                     "Image file: raw binary (.bin) or Intel HEX (.hex)")
        ->required();
    return {flash, [options](CommandSignals& signals) {
                if (const int status = checkPortList(options->ports, options->json)) {
                    return status;
                }
                return runFlashCommand(*options, signals.interrupt);
            }};
}
