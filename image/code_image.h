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

enum class CodeImageFormat { Binary, IntelHex };

enum class CodeImageOutcome {
    Loaded,
    CannotOpen,      // the file cannot be opened or read
    Incompatible,    // "Incompatible File": larger than the CODE area
    WrongBlockSize,  // "Wrong Block Size": the file changed size between examination and load
    BadHex,          // a HEX record refused; the message names the line
};

struct CodeImage {
    CodeImageOutcome outcome = CodeImageOutcome::CannotOpen;
    CodeImageFormat format = CodeImageFormat::Binary;
    std::string message;  // why it was refused; empty when loaded
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

// Files whose name ends in ".hex" (any letter case) are read as Intel HEX,
// everything else as a raw binary.
CodeImage loadCodeImage(const std::wstring& path);
