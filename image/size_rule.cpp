#include "image/size_rule.h"

#include <limits>

SizeVerdict applySizeRule(std::int32_t fileSize, AreaState& state) {
    if (state.areaBase == kCodeAreaBase) {
        state.areaSize = fileSize;
        if (fileSize > kCodeAreaSize) return SizeVerdict::Incompatible;
        state.downloadFlags |= kCodeAreaFlags;
    } else if (state.areaBase == 0) {
        state.areaSize = fileSize;
    }
    return SizeVerdict::Accepted;
}

std::int32_t clampFileSize(std::int64_t size) {
    constexpr std::int64_t kLargest = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(size > kLargest ? kLargest : size);
}
