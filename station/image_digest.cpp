#include "station/image_digest.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/file_access.h"
#include "platform/sha256.h"
#include "platform/system_text.h"

bool fileSha256(const std::string& path, std::string& hex, std::string& error) {
    hex.clear();
    errno = 0;
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) {
        error = std::strerror(errno != 0 ? errno : EIO);
        return false;
    }
    Sha256 hash;
    char buffer[16 * 1024];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) hash.update(buffer, count);
    const bool readWhole = std::ferror(file) == 0;
    if (!readWhole) error = std::strerror(errno != 0 ? errno : EIO);
    std::fclose(file);
    if (!readWhole) return false;
    hex = hash.finishHex();
    if (hex.empty()) error = "the system's SHA-256 failed";
    return !hex.empty();
}
