#include "image/image_placement.h"

#include "image/size_rule.h"

PlacementResult placeImageFile(const std::wstring& path, std::int32_t fileSize, AreaState& state,
                               ImageBlock*& head) {
    PlacementResult result;
    if (applySizeRule(fileSize, state) == SizeVerdict::Incompatible) {
        result.outcome = ImageOutcome::Incompatible;
        return result;
    }
    result.load = loadImageBlock(path, state.areaBase + kFlashStartAddress, state.areaSize, head);
    result.outcome = result.load.outcome;
    return result;
}
