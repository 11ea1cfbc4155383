#include "image/image_loader.h"

#include <cstdio>
#include <limits>
#include <memory>

#include "image/block_list.h"
#include "image/file_access.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

LoadResult loadImageBlock(const std::wstring& path, std::uint32_t targetAddress,
                          std::int32_t expectedSize, ImageBlock*& head) {
    std::unique_ptr<std::FILE, FileCloser> file(openImageFile(path));
    if (!file) return LoadResult{};
    return loadImageBlock(file.get(), targetAddress, expectedSize, head);
}

LoadResult loadImageBlock(std::FILE* file, std::uint32_t targetAddress, std::int32_t expectedSize,
                          ImageBlock*& head) {
    LoadResult result;
    const std::int64_t size = seekToEnd(file);
    if (size < 0) return result;
    if (expectedSize != 0 && size != expectedSize) {
        result.outcome = ImageOutcome::WrongBlockSize;
        return result;
    }
    if (size > std::numeric_limits<std::int32_t>::max()) {
        result.outcome = ImageOutcome::Incompatible;
        return result;
    }

    auto block = std::make_unique<ImageBlock>();
    block->byteCount = static_cast<std::int32_t>(size);
    block->data = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));
    std::rewind(file);
    const std::size_t read = std::fread(block->data.get(), 1, static_cast<std::size_t>(size), file);
    // The file shrank after it was measured, or the read failed.
    if (read != static_cast<std::size_t>(size) || std::ferror(file) != 0) return result;

    block->targetAddress = targetAddress;
    result.outcome = ImageOutcome::Loaded;
    result.block = block.release();
    result.replaced = addBlock(head, result.block);
    return result;
}
