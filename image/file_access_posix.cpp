#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "image/file_access.h"
#include "platform/system_text.h"

bool readFileFacts(const std::wstring& path, FileFacts& facts) {
    const int fd = open(utf8FromWide(path).c_str(), O_RDONLY | O_CLOEXEC);
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
    return std::fopen(utf8FromWide(path).c_str(), "rb");
}

std::FILE* createOutputFile(const std::wstring& path) {
    return std::fopen(utf8FromWide(path).c_str(), "wb");
}

std::int64_t seekToEnd(std::FILE* file) {
    if (fseeko(file, 0, SEEK_END) != 0) return -1;
    return static_cast<std::int64_t>(ftello(file));
}
