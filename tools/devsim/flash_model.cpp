#include "tools/devsim/flash_model.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace devsim {

bool FlashModel::write(std::uint32_t address, const std::uint8_t* bytes, std::size_t count) {
    const std::uint64_t last = static_cast<std::uint64_t>(address) + count;
    if (last > 0x100000000ull) return false;
    std::size_t newPages = 0;
    for (std::uint64_t page = address / kPageSize; count != 0 && page <= (last - 1) / kPageSize;
         ++page) {
        if (pages_.count(static_cast<std::uint32_t>(page)) == 0) ++newPages;
    }
    if (pages_.size() + newPages > kMaxPages) return false;

    std::uint64_t at = address;
    std::size_t done = 0;
    while (done < count) {
        const auto pageNumber = static_cast<std::uint32_t>(at / kPageSize);
        const auto offset = static_cast<std::size_t>(at % kPageSize);
        const std::size_t run = std::min<std::size_t>(count - done, kPageSize - offset);
        Page& page = pages_[pageNumber];
        if (page.empty()) page.assign(kPageSize, 0xFF);
        std::copy(bytes + done, bytes + done + run, page.begin() + static_cast<long>(offset));
        done += run;
        at += run;
    }
    end_ = std::max(end_, last);
    return true;
}

std::vector<std::uint8_t> FlashModel::contents(std::uint32_t base) const {
    std::vector<std::uint8_t> bytes;
    if (end_ <= base) return bytes;
    bytes.assign(static_cast<std::size_t>(end_ - base), 0xFF);
    for (const auto& [pageNumber, page] : pages_) {
        const std::uint64_t pageStart = static_cast<std::uint64_t>(pageNumber) * kPageSize;
        for (std::size_t i = 0; i < kPageSize; ++i) {
            const std::uint64_t address = pageStart + i;
            if (address >= base && address < end_) bytes[address - base] = page[i];
        }
    }
    return bytes;
}

bool FlashModel::save(const std::string& path, std::uint32_t base) const {
    if (path.empty()) return true;
    const std::vector<std::uint8_t> bytes = contents(base);
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace devsim
