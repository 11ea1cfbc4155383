#include "window_probe.h"

namespace probe {

bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(intervalMs);
    }
}

LRESULT send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kMessageTimeoutMs,
                             &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

std::wstring text(HWND window) {
    const LRESULT length = send(window, WM_GETTEXTLENGTH);
    if (length <= 0) return std::wstring();
    std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        send(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    return std::wstring(buffer.data(), copied > 0 ? static_cast<std::size_t>(copied) : 0);
}

std::wstring className(HWND window) {
    wchar_t name[64] = L"";
    GetClassNameW(window, name, 64);
    return name;
}

bool enabled(HWND window) { return IsWindowEnabled(window) != FALSE; }

HWND item(HWND dialog, int id) { return GetDlgItem(dialog, id); }

std::wstring itemText(HWND dialog, int id) { return text(item(dialog, id)); }

bool itemEnabled(HWND dialog, int id) { return enabled(item(dialog, id)); }

std::vector<std::wstring> comboItems(HWND combo) {
    std::vector<std::wstring> items;
    const LRESULT count = send(combo, CB_GETCOUNT);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = send(combo, CB_GETLBTEXTLEN, i);
        if (length < 0) break;
        std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1, L'\0');
        send(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(buffer.data()));
        items.emplace_back(buffer.data());
    }
    return items;
}

int comboSelection(HWND combo) { return static_cast<int>(send(combo, CB_GETCURSEL)); }

namespace {

struct Search {
    DWORD processId;
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialogs(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const bool processMatches = search->processId == 0 || processId == search->processId;
    const bool ownerMatches =
        search->owner == nullptr || GetWindow(window, GW_OWNER) == search->owner;
    if (processMatches && ownerMatches && IsWindowVisible(window) &&
        className(window) == L"#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

BOOL CALLBACK collectChildren(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (GetParent(window) == search->owner) search->found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> dialogsOf(DWORD processId) {
    Search search{processId, nullptr, {}};
    EnumWindows(collectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            for (HWND window : dialogsOf(processId)) {
                if (text(window) == caption) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

HWND waitForOwnedDialog(HWND owner, DWORD timeoutMs, const std::vector<HWND>& except) {
    HWND found = nullptr;
    waitUntil(
        [&] {
            Search search{0, owner, {}};
            EnumWindows(collectDialogs, reinterpret_cast<LPARAM>(&search));
            for (HWND window : search.found) {
                bool excluded = false;
                for (HWND other : except) excluded = excluded || other == window;
                if (!excluded) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool waitForClosed(HWND window, DWORD timeoutMs) {
    return waitUntil([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeoutMs);
}

std::vector<std::wstring> childTexts(HWND window) {
    Search search{0, window, {}};
    EnumChildWindows(window, collectChildren, reinterpret_cast<LPARAM>(&search));
    std::vector<std::wstring> texts;
    for (HWND child : search.found) texts.push_back(text(child));
    return texts;
}

bool confirmOpenFile(HWND open, const std::wstring& path, DWORD timeoutMs) {
    // The name field is an Edit in a ComboBox in a ComboBoxEx32, id 0x47C.
    HWND nameBox = GetDlgItem(open, 0x47C);
    HWND combo = FindWindowExW(nameBox, nullptr, L"ComboBox", nullptr);
    HWND edit = combo != nullptr ? FindWindowExW(combo, nullptr, L"Edit", nullptr) : nullptr;
    if (edit == nullptr) return false;
    send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageW(open, WM_COMMAND, IDOK, 0);
    return waitForClosed(open, timeoutMs);
}

HWND focusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

}  // namespace probe
