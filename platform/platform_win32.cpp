#include <windows.h>

#include "platform/platform.h"
#include "platform/platform_backend.h"

std::uint32_t systemTickCount() { return GetTickCount(); }

void sleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

void systemDebugOutput(const std::wstring& text) { OutputDebugStringW(text.c_str()); }
