// Reads a whole image file into a new ImageBlock and adds it to a BlockList.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "image/image_block.h"
#include "image/image_outcome.h"

struct LoadResult {
    ImageOutcome outcome = ImageOutcome::NotOpened;
    ImageBlock* block = nullptr;     // the new block when Loaded
    ImageBlock* replaced = nullptr;  // the block it replaced in the list, if any
};

// `expectedSize` 0 means any size. The list changes only when the outcome is
// Loaded; nothing is allocated for a refused file.
LoadResult loadImageBlock(const std::wstring& path, std::uint32_t targetAddress,
                          std::int32_t expectedSize, ImageBlock*& head);

// The same for a file already open for binary reading, which stays open. A
// read that ends before the measured size is refused as NotOpened: a shortened
// image must never reach the device.
LoadResult loadImageBlock(std::FILE* file, std::uint32_t targetAddress, std::int32_t expectedSize,
                          ImageBlock*& head);
