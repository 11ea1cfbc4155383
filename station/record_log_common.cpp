// Reading a log back, the same on every system: through the image files'
// access, which opens a UTF-8 path through the wide API on Windows and lets
// stations go on appending meanwhile.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "image/file_access.h"
#include "platform/system_text.h"
#include "station/record_log.h"

namespace {

// The C library's text for errno (a CRT code on Windows too, not a system error code).
std::string errnoText() { return std::strerror(errno != 0 ? errno : EIO); }

}  // namespace

bool readLogText(const std::string& path, std::string& content, std::string& error) {
    content.clear();
    errno = 0;
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) {
        if (errno == ENOENT) return true;  // no station has written to it yet
        error = errnoText();
        return false;
    }
    // Up to the size it has now: what other stations append meanwhile is not
    // needed, and a device such as /dev/full has no end to read to.
    const std::int64_t size = seekToEnd(file);
    bool read = size >= 0 && std::fseek(file, 0, SEEK_SET) == 0;
    char buffer[16 * 1024];
    while (read && static_cast<std::int64_t>(content.size()) < size) {
        const auto left =
            static_cast<std::size_t>(size - static_cast<std::int64_t>(content.size()));
        const std::size_t count = std::fread(buffer, 1, std::min(sizeof buffer, left), file);
        if (count == 0) break;
        content.append(buffer, count);
    }
    read = read && std::ferror(file) == 0;
    if (!read) error = errnoText();
    std::fclose(file);
    return read;
}
