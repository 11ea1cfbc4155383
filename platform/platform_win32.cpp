#include <windows.h>

#include <atomic>

#include "platform/platform.h"
#include "platform/platform_backend.h"

std::uint32_t systemTickCount() { return GetTickCount(); }

void sleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

namespace {

// How often to look again for a debug-output viewer; finding one costs a
// system call, and the trace goes out on every read and write.
constexpr DWORD kViewerRecheckMs = 250;

// A viewer such as DebugView announces itself with this event (per session,
// or global when it captures all sessions).
bool debugOutputViewerRunning() {
    for (const wchar_t* name : {L"DBWIN_BUFFER_READY", L"Global\\DBWIN_BUFFER_READY"}) {
        HANDLE ready = OpenEventW(SYNCHRONIZE, FALSE, name);
        if (ready != nullptr) {
            CloseHandle(ready);
            return true;
        }
    }
    return false;
}

std::atomic<DWORD> viewerCheckedAt{0};
std::atomic<bool> viewerChecked{false};
std::atomic<bool> viewerRunning{false};

}  // namespace

bool systemDebugOutputListened() {
    if (IsDebuggerPresent()) return true;
    const DWORD now = GetTickCount();
    if (!viewerChecked.load() || now - viewerCheckedAt.load() >= kViewerRecheckMs) {
        viewerRunning.store(debugOutputViewerRunning());
        viewerCheckedAt.store(now);
        viewerChecked.store(true);
    }
    return viewerRunning.load();
}

void systemDebugOutput(const std::wstring& text) { OutputDebugStringW(text.c_str()); }
