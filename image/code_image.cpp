#include "image/code_image.h"

#include <algorithm>
#include <cctype>
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

// How much of a file's start is read to tell Intel HEX from a binary.
constexpr std::size_t kSniffBytes = 512;
constexpr std::uint8_t kErasedByte = 0xFF;

CodeImage refused(CodeImageFormat format, ImageOutcome outcome, const std::string& message = "") {
    CodeImage image;
    image.format = format;
    image.outcome = outcome;
    image.message = message.empty() ? imageOutcomeText(outcome) : message;
    return image;
}

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// The first bytes of the file; false when it cannot be opened.
bool readHead(const std::wstring& path, std::string& head) {
    std::FILE* file = openImageFile(path);
    if (file == nullptr) return false;
    head.resize(kSniffBytes);
    head.resize(std::fread(&head[0], 1, head.size(), file));
    std::fclose(file);
    return true;
}

CodeImage loadBinary(const std::wstring& path) {
    // As the dialog does: the examined size (-1 when the file cannot be
    // examined) sets the expected size, then the file is loaded under it.
    FileFacts facts;
    const std::int32_t fileSize = readFileFacts(path, facts) ? clampFileSize(facts.size) : -1;
    AreaState area;
    applyArea(L"CODE", area);
    ImageBlock* head = nullptr;
    const PlacementResult placement = placeImageFile(path, fileSize, area, head);
    if (placement.outcome != ImageOutcome::Loaded) {
        return refused(CodeImageFormat::Binary, placement.outcome);
    }
    CodeImage image;
    image.format = CodeImageFormat::Binary;
    image.outcome = ImageOutcome::Loaded;
    image.blocks.emplace_back(placement.load.block);
    image.downloadFlags = area.downloadFlags;
    return image;
}

CodeImage loadHex(const std::wstring& path) {
    std::FILE* file = openImageFile(path);
    const std::int64_t size = file != nullptr ? seekToEnd(file) : -1;
    if (size < 0 || size > kLargestHexFile) {
        if (file != nullptr) std::fclose(file);
        return refused(CodeImageFormat::IntelHex,
                       size < 0 ? ImageOutcome::NotOpened : ImageOutcome::Incompatible);
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    std::rewind(file);
    text.resize(std::fread(&text[0], 1, text.size(), file));
    std::fclose(file);

    const HexParse parse = parseIntelHex(text, kCodeWindowStart, kCodeWindowEnd);
    if (!parse.ok) return refused(CodeImageFormat::IntelHex, ImageOutcome::BadHex, parse.error);

    // One block over the whole span: a compiler's alignment gaps would
    // otherwise each cost the device a block of its own.
    CodeImage image;
    image.format = CodeImageFormat::IntelHex;
    image.outcome = ImageOutcome::Loaded;
    image.downloadFlags = kCodeAreaFlags;
    if (parse.runs.empty()) return image;
    std::uint32_t lowest = parse.runs.front().address;
    std::uint32_t end = lowest;
    for (const HexRun& run : parse.runs) {
        const auto runEnd = run.address + static_cast<std::uint32_t>(run.bytes.size());
        lowest = std::min(lowest, run.address);
        end = std::max(end, runEnd);
    }
    auto block = std::make_unique<ImageBlock>();
    block->targetAddress = lowest;
    block->byteCount = static_cast<std::int32_t>(end - lowest);
    block->data = std::make_unique<std::uint8_t[]>(end - lowest);
    std::fill_n(block->data.get(), end - lowest, kErasedByte);
    for (const HexRun& run : parse.runs) {
        std::copy(run.bytes.begin(), run.bytes.end(), block->data.get() + (run.address - lowest));
    }
    image.blocks.push_back(std::move(block));
    return image;
}

}  // namespace

std::int64_t CodeImage::byteCount() const {
    std::int64_t total = 0;
    for (const auto& block : blocks) total += block->byteCount;
    return total;
}

bool looksLikeIntelHex(const std::string& head) {
    std::size_t i = 0;
    while (i < head.size() && std::isspace(static_cast<unsigned char>(head[i])) != 0) ++i;
    if (i >= head.size() || head[i] != ':') return false;
    std::size_t digits = 0;
    for (++i; i < head.size() && head[i] != '\r' && head[i] != '\n'; ++i) {
        if (!isHexDigit(head[i])) return false;
        ++digits;
    }
    return digits >= 2;
}

CodeImage loadCodeImage(const std::wstring& path) {
    std::string head;
    if (!readHead(path, head)) return refused(CodeImageFormat::Binary, ImageOutcome::NotOpened);
    CodeImage image =
        endsWithHex(path) || looksLikeIntelHex(head) ? loadHex(path) : loadBinary(path);
    if (image.outcome == ImageOutcome::Loaded && image.byteCount() == 0) {
        return refused(image.format, ImageOutcome::NoBytes);
    }
    return image;
}
