// An image file made ready for the CODE area: a raw binary goes through the
// same size rules as the dialog's "Load Binary File"; an Intel HEX file
// carries its own device addresses, which must lie in the CODE area.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/area_table.h"
#include "image/image_block.h"
#include "image/image_outcome.h"

enum class CodeImageFormat { Binary, IntelHex };

struct CodeImage {
    ImageOutcome outcome = ImageOutcome::NotOpened;
    CodeImageFormat format = CodeImageFormat::Binary;
    // Why it was refused (a refused HEX record names its line); empty when loaded.
    std::string message;
    // The blocks, chained through `next` in sending order; owned here.
    std::vector<std::unique_ptr<ImageBlock>> blocks;
    std::uint32_t downloadFlags = 0;

    const ImageBlock* first() const { return blocks.empty() ? nullptr : blocks.front().get(); }
    std::int64_t byteCount() const;
};

// The CODE area's device addresses: [kCodeWindowStart, kCodeWindowEnd).
constexpr std::uint32_t kCodeWindowStart = kFlashStartAddress + kCodeAreaBase;
constexpr std::uint32_t kCodeWindowEnd =
    kCodeWindowStart + static_cast<std::uint32_t>(kCodeAreaSize);

// True when `head`, the start of a file, reads as Intel HEX: its first
// non-blank line is ':' followed by hexadecimal digits.
bool looksLikeIntelHex(const std::string& head);

// A file whose name ends in ".hex" (any letter case) or whose content looks
// like Intel HEX is read as Intel HEX, whatever its name, so that records are
// never written as firmware; everything else as a raw binary. An Intel HEX
// image becomes one block from its lowest to its highest address, with any
// gaps filled with 0xFF (erased flash). A file without image bytes is refused.
CodeImage loadCodeImage(const std::wstring& path);
