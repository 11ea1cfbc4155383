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
        if (image.outcome != ImageOutcome::NotOpened || ticksSince(started) >= kHeldFileLimitMs) {
            return image;
        }
        sleepMilliseconds(kHeldFilePauseMs);
    }
}
