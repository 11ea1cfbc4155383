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
    char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) content.append(buffer, count);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    if (!read) error = "the log cannot be read";
    return read;
}
