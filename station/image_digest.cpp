#include "station/image_digest.h"

#include <cerrno>
#include <cstdio>

#include "image/file_access.h"
#include "platform/sha256.h"
#include "platform/system_text.h"

bool fileSha256(const std::string& path, std::string& hex, std::string& error) {
    std::FILE* file = openImageFile(widePath(path));
    if (file == nullptr) {
        error = systemErrorText(static_cast<unsigned long>(errno));
        return false;
    }
    Sha256 hash;
    unsigned char buffer[65536];
    std::size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) hash.update(buffer, count);
    const bool read = std::ferror(file) == 0;
    std::fclose(file);
    if (!read) {
        error = "the file cannot be read";
        return false;
    }
    hex = hash.finishHex();
    return true;
}
