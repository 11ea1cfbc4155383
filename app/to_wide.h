// Conversion of the device's 8-bit text to the user interface's wide text.
#pragma once

#include <windows.h>

#include <string>

// Converts the NUL-terminated `text` into `buffer` (capacity in characters,
// terminator included) with `codePage`. Returns `buffer`, or null when the text
// or the buffer is missing or the conversion fails.
wchar_t* ToWide(const char* text, wchar_t* buffer, int capacity, UINT codePage);

// The program's own 7-bit texts (messages and log lines) as wide text.
std::wstring WidenAscii(const std::string& text);
