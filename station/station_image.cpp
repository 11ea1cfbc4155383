#include "station/station_image.h"

#include "platform/platform.h"
#include "platform/system_text.h"

namespace {

constexpr std::uint32_t kHeldFileLimitMs = 1000;
constexpr std::uint32_t kHeldFilePauseMs = 20;

}  // namespace

CodeImage loadStationImage(const std::string& path) {
    const std::uint32_t started = tickCount();
    for (;;) {
        CodeImage image = loadCodeImage(widePath(path));
        // A file held while it is examined reads as unsized, and so as refused
        // for its size, not as unopened: every failure is tried again.
        if (image.outcome == ImageOutcome::Loaded || ticksSince(started) >= kHeldFileLimitMs) {
            return image;
        }
        sleepMilliseconds(kHeldFilePauseMs);
    }
}
