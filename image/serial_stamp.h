// A serial number written into a unit's own copy of the image: the image is
// copied block by block, and the number replaces the bytes at a fixed device
// address, as a 32-bit word or as decimal digits.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "image/image_block.h"

enum class SerialFormat { U32Le, U32Be, Ascii };

// The digits of the largest 64-bit number: the widest ascii:W.
constexpr int kMostSerialDigits = 20;

struct SerialLayout {
    std::uint32_t address = 0;  // device address of the first byte
    SerialFormat format = SerialFormat::U32Le;
    int asciiWidth = 0;  // digits for Ascii (1..20)
    int width() const;   // bytes it takes: 4, or asciiWidth
};

// "u32le", "u32be" or "ascii:W"; false with a message otherwise.
bool parseSerialFormat(const std::string& text, SerialLayout& layout, std::string& error);

// The highest number the layout holds: 2^32-1 for a 32-bit word, W nines for W digits.
std::uint64_t highestSerial(const SerialLayout& layout);

// True when all width() bytes at `address` lie inside one block's data.
bool serialFits(const ImageBlock* first, const SerialLayout& layout);

// A deep copy of the block chain (chained through `next`).
std::vector<std::unique_ptr<ImageBlock>> copyBlocks(const ImageBlock* first);

// Writes `number` at the layout's address: little/big-endian 32 bits, or W
// decimal digits zero-padded. False with a message when it does not fit the
// layout (a number above 2^32-1 for u32, more digits than W) or the address.
bool stampSerial(ImageBlock* first, const SerialLayout& layout, std::uint64_t number,
                 std::string& error);
