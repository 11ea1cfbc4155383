#include "cli/port_result.h"

#include <cinttypes>
#include <cstdio>

#include "flashing/messages.h"

namespace {

std::string hexWord(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06" PRIx32, value);
    return text;
}

}  // namespace

Json imageJson(const std::string& path, const CodeImage& image) {
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

std::string portSummaryLine(const std::string& port, const FlashResult& result) {
    char figures[128];
    std::snprintf(figures, sizeof figures, "%d bytes in %.2f s (%.0f bytes/s)", result.sentBytes,
                  result.transferSeconds, bytesPerSecond(result));
    if (result.outcome == PortOutcome::Done) {
        std::string line = port + ": ok, " + figures + "; " + describeDevice(result.before) +
                           " -> " + describeDevice(result.after);
        if (result.settleCut) line += "; " + jobDetailText(result);
        return line;
    }
    if (result.outcome == PortOutcome::Stopped) return port + ": interrupted, not finished";
    std::string line = port + ": failed (exit status " +
                       std::to_string(statusNumber(outcomeStatus(result.outcome))) +
                       "): " + jobDetailText(result);
    if (result.transferred) line += "; " + std::string(figures) + " before the failure";
    return line;
}

const char* flashStepText(FlashStep step) {
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
