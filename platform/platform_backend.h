// Implemented once per operating system (platform_win32.cpp, platform_posix.cpp).
#pragma once

#include <cstdint>
#include <string>

std::uint32_t systemTickCount();
void systemDebugOutput(const std::wstring& text);
bool systemDebugOutputListened();
