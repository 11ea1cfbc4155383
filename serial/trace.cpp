#include <cwchar>

#include "platform/platform.h"
#include "serial/serial_port.h"

void traceBytes(const wchar_t* prefix, const void* bytes, std::size_t count) {
    static const wchar_t kHexDigits[] = L"0123456789abcdef";
    constexpr std::size_t kBytesPerLine = 16;
    if (count == 0 || !debugOutputListened()) return;
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    std::size_t done = 0;
    while (done < count) {
        std::wstring line = prefix;
        const std::size_t end = done + kBytesPerLine < count ? done + kBytesPerLine : count;
        for (; done < end; ++done) {
            line.push_back(kHexDigits[data[done] >> 4]);
            line.push_back(kHexDigits[data[done] & 0x0F]);
            line.push_back(L' ');
        }
        line.push_back(L'\n');
        debugOutput(line);
    }
}
