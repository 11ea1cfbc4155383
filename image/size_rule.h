// The size an image file must have for the selected area, decided by the
// area's base address once the file's size is known.
#pragma once

#include <cstdint>

#include "image/area_table.h"

enum class SizeVerdict { Accepted, Incompatible };

// Applies the rule to `state` (after the area itself has been applied):
//  - base 0x8000 (CODE): the expected size becomes the file's size; files larger
//    than the area are refused and keep the flags word as it was;
//  - base 0 (BOOT, CUSTOM): the expected size becomes the file's size;
//  - other bases (OEM, PARAMETER): the area's fixed size stays expected.
// `fileSize` is -1 when the file could not be examined.
SizeVerdict applySizeRule(std::int32_t fileSize, AreaState& state);

// A file size as the dialog keeps it: sizes beyond the 32-bit range saturate at
// INT32_MAX, so they can never wrap into a small or negative size.
std::int32_t clampFileSize(std::int64_t size);
