#include "image/serial_stamp.h"

#include <algorithm>
#include <cstdio>

namespace {

std::string hexAddress(std::uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(address));
    return text;
}

// The block whose data holds all of the layout's bytes, or null.
ImageBlock* blockHolding(const ImageBlock* first, const SerialLayout& layout) {
    const int width = layout.width();
    if (width <= 0) return nullptr;
    const std::uint64_t start = layout.address;
    const std::uint64_t end = start + static_cast<std::uint64_t>(width);
    for (const ImageBlock* block = first; block != nullptr; block = block->next) {
        const std::uint64_t blockStart = block->targetAddress;
        const std::uint64_t blockEnd =
            blockStart + static_cast<std::uint64_t>(std::max<std::int32_t>(block->byteCount, 0));
        if (start >= blockStart && end <= blockEnd) return const_cast<ImageBlock*>(block);
    }
    return nullptr;
}

}  // namespace

int SerialLayout::width() const { return format == SerialFormat::Ascii ? asciiWidth : 4; }

bool parseSerialFormat(const std::string& text, SerialLayout& layout, std::string& error) {
    if (text == "u32le" || text == "u32be") {
        layout.format = text == "u32le" ? SerialFormat::U32Le : SerialFormat::U32Be;
        layout.asciiWidth = 0;
        return true;
    }
    const std::string prefix = "ascii:";
    const std::string digits =
        text.compare(0, prefix.size(), prefix) == 0 ? text.substr(prefix.size()) : std::string();
    if (!digits.empty() && digits.size() <= 2 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const int width = std::stoi(digits);
        if (width >= 1 && width <= kMostSerialDigits) {
            layout.format = SerialFormat::Ascii;
            layout.asciiWidth = width;
            return true;
        }
    }
    error = "serial format '" + text + "': expected u32le, u32be or ascii:W with W from 1 to 20";
    return false;
}

bool serialFits(const ImageBlock* first, const SerialLayout& layout) {
    return blockHolding(first, layout) != nullptr;
}

std::vector<std::unique_ptr<ImageBlock>> copyBlocks(const ImageBlock* first) {
    std::vector<std::unique_ptr<ImageBlock>> copies;
    for (const ImageBlock* block = first; block != nullptr; block = block->next) {
        auto copy = std::make_unique<ImageBlock>();
        copy->targetAddress = block->targetAddress;
        copy->byteCount = block->byteCount;
        if (block->data != nullptr && block->byteCount > 0) {
            const auto count = static_cast<std::size_t>(block->byteCount);
            copy->data = std::make_unique<std::uint8_t[]>(count);
            std::copy(block->data.get(), block->data.get() + count, copy->data.get());
        }
        if (!copies.empty()) copies.back()->next = copy.get();
        copies.push_back(std::move(copy));
    }
    return copies;
}

bool stampSerial(ImageBlock* first, const SerialLayout& layout, std::uint64_t number,
                 std::string& error) {
    std::string bytes;
    if (layout.format == SerialFormat::Ascii) {
        bytes = std::to_string(number);
        if (layout.asciiWidth < 1 || layout.asciiWidth > kMostSerialDigits ||
            bytes.size() > static_cast<std::size_t>(layout.asciiWidth)) {
            error = "serial number " + std::to_string(number) + " has more than " +
                    std::to_string(layout.asciiWidth) + " digits";
            return false;
        }
        bytes.insert(0, static_cast<std::size_t>(layout.asciiWidth) - bytes.size(), '0');
    } else {
        if (number > 0xFFFFFFFFull) {
            error = "serial number " + std::to_string(number) + " does not fit in 32 bits";
            return false;
        }
        for (int shift = 0; shift < 32; shift += 8) {
            bytes += static_cast<char>((number >> shift) & 0xFF);
        }
        if (layout.format == SerialFormat::U32Be) std::reverse(bytes.begin(), bytes.end());
    }
    ImageBlock* block = blockHolding(first, layout);
    if (block == nullptr) {
        error = "the serial number's " + std::to_string(layout.width()) + " bytes at " +
                hexAddress(layout.address) + " do not lie inside the image";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(),
              block->data.get() + (layout.address - block->targetAddress));
    return true;
}

std::uint64_t highestSerial(const SerialLayout& layout) {
    if (layout.format != SerialFormat::Ascii) return 0xFFFFFFFFull;
    std::uint64_t highest = 0;
    for (int digit = 0; digit < layout.asciiWidth && highest <= (UINT64_MAX - 9) / 10; ++digit) {
        highest = highest * 10 + 9;
    }
    return layout.asciiWidth >= 20 ? UINT64_MAX : highest;
}
