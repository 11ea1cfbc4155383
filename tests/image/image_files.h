// Temporary image files for the image tests, removed with the fixture.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "image/image_block.h"

class ImageFiles {
  public:
    // A folder of its own: test processes run side by side, and an object's
    // address can repeat between them (the sanitizers' allocator is predictable).
    ImageFiles() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorvel-image-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) folder_ = pattern;
    }
    ~ImageFiles() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // A file of `size` bytes with a position-dependent pattern.
    std::wstring make(const std::string& name, std::size_t size) {
        std::vector<char> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + (i >> 8));
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<long>(size));
        return path.wstring();
    }

    std::wstring pathOf(const std::string& name) const { return (folder_ / name).wstring(); }

  private:
    std::filesystem::path folder_;
};

inline std::uint8_t patternByte(std::size_t i) {
    return static_cast<std::uint8_t>(i * 7 + (i >> 8));
}

// The target addresses of a BlockList, head first.
inline std::vector<std::uint32_t> addressesOf(const ImageBlock* head) {
    std::vector<std::uint32_t> addresses;
    for (; head != nullptr; head = head->next) addresses.push_back(head->targetAddress);
    return addresses;
}

inline void releaseList(ImageBlock*& head) {
    while (head != nullptr) delete std::exchange(head, head->next);
}
