#include <cerrno>
#include <cstdio>

#include "image/file_access.h"
#include "platform/system_text.h"
#include "station/record_log.h"

bool readLogText(const std::string& path, std::string& content, std::string& error) {
    content.clear();
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) {
        if (errno == ENOENT) return true;
        error = systemErrorText(static_cast<unsigned long>(errno));
        return false;
    }
    // Up to the size it has now: what other stations append meanwhile is not
    // needed, and a device such as /dev/full has no end to read to.
    const std::int64_t size = seekToEnd(file);
    std::rewind(file);
    char buffer[65536];
    std::size_t count = 0;
    while (static_cast<std::int64_t>(content.size()) < size &&
           (count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, count);
    }
    if (static_cast<std::int64_t>(content.size()) > size && size >= 0) {
        content.resize(static_cast<std::size_t>(size));
    }
    const bool read = std::ferror(file) == 0 && size >= 0;
    std::fclose(file);
    if (!read) error = "the log cannot be read";
    return read;
}
