#include "image/image_placement.h"

#include "image/size_rule.h"

PlacementResult placeImageFile(const std::wstring& path, std::int32_t fileSize, AreaState& state,
                               ImageBlock*& head) {
    PlacementResult result;
    if (applySizeRule(fileSize, state) == SizeVerdict::Incompatible) {
        result.outcome = PlacementOutcome::Incompatible;
        return result;
    }
    result.load = loadImageBlock(path, state.areaBase + kFlashStartAddress, state.areaSize, head);
    switch (result.load.outcome) {
        case LoadOutcome::Loaded:
            result.outcome = PlacementOutcome::Loaded;
            break;
        case LoadOutcome::CannotOpen:
            result.outcome = PlacementOutcome::NotOpened;
            break;
        case LoadOutcome::WrongBlockSize:
            result.outcome = PlacementOutcome::WrongBlockSize;
            break;
        case LoadOutcome::TooLarge:
            result.outcome = PlacementOutcome::Incompatible;
            break;
    }
    return result;
}
