#include "dialog_state.h"

// After windows.h, which it needs.
#include <commctrl.h>

#include "app/resource.h"
#include "gui_session.h"
#include "window_probe.h"

namespace gui {

std::wstring logText(HWND dialog) { return probe::itemText(dialog, IDC_LOG); }

int progressPosition(HWND dialog) {
    return static_cast<int>(probe::send(probe::item(dialog, IDC_PROGRESS), PBM_GETPOS));
}

bool waitForItemText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs) {
    return probe::waitUntil([&] { return probe::itemText(dialog, id) == text; }, timeoutMs);
}

bool waitForLogEnding(HWND dialog, const std::wstring& tail, DWORD timeoutMs) {
    return probe::waitUntil(
        [&] {
            const std::wstring log = logText(dialog);
            return log.size() >= tail.size() &&
                   log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
        },
        timeoutMs);
}

void checkConnection(HWND dialog, const std::string& state, const std::wstring& button,
                     const std::wstring& label) {
    checkText(probe::itemText(dialog, IDC_ONLINE), button, state + ": online button text");
    checkText(probe::itemText(dialog, IDC_DEVICE_STATUS), label, state + ": status label");
}

HCURSOR currentCursor() {
    CURSORINFO info{};
    info.cbSize = sizeof info;
    if (!GetCursorInfo(&info)) return nullptr;
    return info.hCursor;
}

HCURSOR dialogCursor(HWND dialog) {
    probe::send(dialog, WM_SETCURSOR, reinterpret_cast<WPARAM>(dialog),
                MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return currentCursor();
}

}  // namespace gui
