// POSIX: the host name, the UTC time from the system clock, strerror, and
// paths whose bytes need not be UTF-8.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/system_text.h"

namespace {

// The length of the UTF-8 sequence at `at`, with its code point in `code`; 0
// when the bytes there are not valid UTF-8. Overlong forms, surrogates and
// values above U+10FFFF are not, so that decoding never merges or changes bytes.
std::size_t validUtf8Sequence(const std::string& text, std::size_t at, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3Fu);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < lowest || code > 0x10FFFF || surrogate ? 0 : length;
}

}  // namespace

std::wstring widePath(const std::string& utf8) {
    // File names are bytes, not always UTF-8. A byte outside valid UTF-8
    // becomes U+DC00 + byte (the lone-surrogate escape Python uses), which the
    // image files' POSIX access turns back into that byte: every name opens.
    std::wstring wide;
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t code = 0;
        const std::size_t length = validUtf8Sequence(utf8, i, code);
        wide +=
            static_cast<wchar_t>(length > 0 ? code : 0xDC00u + static_cast<unsigned char>(utf8[i]));
        i += length > 0 ? length : 1;
    }
    return wide;
}

std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "unknown";
    return name;
}

std::string utcTimestamp() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    return text;
}

std::string systemErrorText(unsigned long code) { return std::strerror(static_cast<int>(code)); }

std::string utf8FromWide(const std::wstring& text) {
    // U+DC80 to U+DCFF stand for the bytes 0x80 to 0xFF of a name that is not valid UTF-8.
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
