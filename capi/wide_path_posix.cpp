// POSIX file names are bytes. Each byte above 0x7F becomes U+DC00 + byte, the
// escape the image files' POSIX access turns back into that byte, so every
// name opens as given, UTF-8 or not.
#include "capi/wide_path.h"

std::wstring widePath(const char* path) {
    std::wstring wide;
    for (const char* at = path; *at != '\0'; ++at) {
        const auto byte = static_cast<unsigned char>(*at);
        wide += static_cast<wchar_t>(byte < 0x80 ? byte : 0xDC00u + byte);
    }
    return wide;
}
