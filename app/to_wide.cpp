#include "app/to_wide.h"

wchar_t* ToWide(const char* text, wchar_t* buffer, int capacity, UINT codePage) {
    if (text == nullptr || buffer == nullptr || capacity <= 0) return nullptr;
    buffer[0] = L'\0';
    if (::MultiByteToWideChar(codePage, 0, text, -1, buffer, capacity) == 0) return nullptr;
    return buffer;
}

std::wstring WidenAscii(const std::string& text) { return std::wstring(text.begin(), text.end()); }
