// An image file of arbitrary content and size loaded as "Load Binary File"
// loads it: the block holds the whole file, byte for byte, whether any size or
// exactly the file's size is expected.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/block_list.h"
#include "image/image_loader.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/quorvel-fuzz-image-" + std::to_string(getpid()) + ".bin";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    if (size > 0) std::fwrite(data, 1, size, file);
    std::fclose(file);

    // Expect either any size or exactly this one, depending on the input.
    const std::int32_t expected =
        size > 0 && data[0] % 2 == 0 ? 0 : static_cast<std::int32_t>(size);
    ImageBlock* head = nullptr;
    const LoadResult result =
        loadImageBlock(std::wstring(path.begin(), path.end()), 0x108000, expected, head);
    FUZZ_CHECK(result.outcome == ImageOutcome::Loaded);
    FUZZ_CHECK(head == result.block && result.replaced == nullptr);
    FUZZ_CHECK(result.block->byteCount == static_cast<std::int32_t>(size));
    FUZZ_CHECK(size == 0 || std::memcmp(result.block->data.get(), data, size) == 0);
    delete result.block;
    return 0;
}
