#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "image/file_access.h"

namespace {

// Paths are wide strings in the program; the POSIX file system takes bytes,
// UTF-8 as a rule. U+DC80 to U+DCFF stand for the bytes 0x80 to 0xFF of a
// name that is not valid UTF-8 (the command line's escape), and become them again.
std::string pathBytes(const std::wstring& text) {
    std::string out;
    for (wchar_t wide : text) {
        const auto code = static_cast<std::uint32_t>(wide);
        if (code >= 0xDC80 && code <= 0xDCFF) {
            out += static_cast<char>(code - 0xDC00);
        } else if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace

bool readFileFacts(const std::wstring& path, FileFacts& facts) {
    const int fd = open(pathBytes(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // No sharing: an exclusive advisory lock fails while another holder has one.
    struct stat info;
    std::tm utc;
    const bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &info) == 0 &&
                    S_ISREG(info.st_mode) && gmtime_r(&info.st_mtime, &utc) != nullptr;
    close(fd);
    if (!ok) return false;

    facts.size = static_cast<std::int64_t>(info.st_size);
    facts.lastWrite = {utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                       utc.tm_hour,        utc.tm_min,     utc.tm_sec};
    return true;
}

std::FILE* openImageFile(const std::wstring& path) {
    return std::fopen(pathBytes(path).c_str(), "rb");
}

std::int64_t seekToEnd(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return static_cast<std::int64_t>(ftello(file));
}
