// The device's flash as a sparse byte map: erased bytes read 0xFF. Saved as a
// plain file from a base address up to the highest byte written, so tests can
// compare it with the image they sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace devsim {

class FlashModel {
  public:
    static constexpr std::uint32_t kPageSize = 4096;
    // Bound of the memory and of the saved file: 64 MiB.
    static constexpr std::size_t kMaxPages = 16384;

    // Stores the bytes; false (and nothing stored) when they would exceed the
    // 32-bit address space or the page bound.
    bool write(std::uint32_t address, const std::uint8_t* bytes, std::size_t count);

    // Bytes from `base` up to the highest byte written (empty when none above base).
    std::vector<std::uint8_t> contents(std::uint32_t base) const;

    // Writes contents(base) to `path` through a temporary file and a rename,
    // so a reader never sees half a file.
    bool save(const std::string& path, std::uint32_t base) const;

  private:
    using Page = std::vector<std::uint8_t>;
    std::map<std::uint32_t, Page> pages_;  // keyed by page number
    std::uint64_t end_ = 0;                // one past the highest byte written
};

}  // namespace devsim
