// Places an image file into the BlockList under the selected area's size rule:
// the part of setting an image file that follows the file's examination.
#pragma once

#include <cstdint>
#include <string>

#include "image/area_table.h"
#include "image/image_loader.h"

struct PlacementResult {
    ImageOutcome outcome = ImageOutcome::NotOpened;
    LoadResult load;
};

// `state` must hold the freshly applied area; `fileSize` is the examined size
// (-1 when the file could not be examined). Applies the size rule to `state`
// and, unless refused, loads the file for the area's device address.
PlacementResult placeImageFile(const std::wstring& path, std::int32_t fileSize, AreaState& state,
                               ImageBlock*& head);
