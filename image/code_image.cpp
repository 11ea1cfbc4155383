#include "image/code_image.h"

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <string>

#include "image/file_access.h"
#include "image/image_placement.h"
#include "image/intel_hex.h"
#include "image/size_rule.h"

namespace {

bool endsWithHex(const std::wstring& path) {
    if (path.size() < 4) return false;
    std::wstring tail = path.substr(path.size() - 4);
    for (wchar_t& c : tail) c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return tail == L".hex";
}

// A HEX file larger than this cannot be an image for the CODE area: even
// 255 data bytes per record take more than two characters per byte.
constexpr std::int64_t kLargestHexFile = std::int64_t{kCodeAreaSize} * 4 + 65536;

CodeImage loadBinary(const std::wstring& path) {
    CodeImage image;
    image.format = CodeImageFormat::Binary;
    // As the dialog does: the examined size (-1 when the file cannot be
    // examined) sets the expected size, then the file is loaded under it.
    FileFacts facts;
    const std::int32_t fileSize = readFileFacts(path, facts) ? clampFileSize(facts.size) : -1;
    AreaState area;
    applyArea(L"CODE", area);
    ImageBlock* head = nullptr;
    const PlacementResult placement = placeImageFile(path, fileSize, area, head);
    switch (placement.outcome) {
        case ImageOutcome::Loaded:
            image.outcome = CodeImageOutcome::Loaded;
            image.blocks.emplace_back(placement.load.block);
            image.downloadFlags = area.downloadFlags;
            break;
        case ImageOutcome::NotOpened:
            image.outcome = CodeImageOutcome::CannotOpen;
            image.message = "cannot open the image file";
            break;
        case ImageOutcome::Incompatible:
            image.outcome = CodeImageOutcome::Incompatible;
            image.message = "Incompatible File";
            break;
        case ImageOutcome::WrongBlockSize:
            image.outcome = CodeImageOutcome::WrongBlockSize;
            image.message = "Wrong Block Size";
            break;
    }
    return image;
}

CodeImage loadHex(const std::wstring& path) {
    CodeImage image;
    image.format = CodeImageFormat::IntelHex;
    std::FILE* file = openImageFile(path);
    const std::int64_t size = file != nullptr ? seekToEnd(file) : -1;
    if (size < 0 || size > kLargestHexFile) {
        if (file != nullptr) std::fclose(file);
        image.outcome = size < 0 ? CodeImageOutcome::CannotOpen : CodeImageOutcome::Incompatible;
        image.message = size < 0 ? "cannot open the image file" : "Incompatible File";
        return image;
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);

    const HexParse parse = parseIntelHex(text, kCodeWindowStart, kCodeWindowEnd);
    if (!parse.ok) {
        image.outcome = CodeImageOutcome::BadHex;
        image.message = parse.error;
        return image;
    }
    for (const HexRun& run : parse.runs) {
        auto block = std::make_unique<ImageBlock>();
        block->targetAddress = run.address;
        block->byteCount = static_cast<std::int32_t>(run.bytes.size());
        block->data = std::make_unique<std::uint8_t[]>(run.bytes.size());
        std::copy(run.bytes.begin(), run.bytes.end(), block->data.get());
        if (!image.blocks.empty()) image.blocks.back()->next = block.get();
        image.blocks.push_back(std::move(block));
    }
    image.outcome = CodeImageOutcome::Loaded;
    image.downloadFlags = kCodeAreaFlags;
    return image;
}

}  // namespace

std::int64_t CodeImage::byteCount() const {
    std::int64_t total = 0;
    for (const auto& block : blocks) total += block->byteCount;
    return total;
}

CodeImage loadCodeImage(const std::wstring& path) {
    return endsWithHex(path) ? loadHex(path) : loadBinary(path);
}
