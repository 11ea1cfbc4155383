// Reading and driving another process's windows through window messages, with
// a time limit on every wait.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace probe {

constexpr DWORD kMessageTimeoutMs = 5000;

// Polls `condition` every 20 ms until it holds or `timeoutMs` has passed.
bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs = 20);

std::wstring text(HWND window);
std::wstring className(HWND window);
bool enabled(HWND window);
HWND item(HWND dialog, int id);
std::wstring itemText(HWND dialog, int id);
bool itemEnabled(HWND dialog, int id);

// Sends with a time limit, so a hung target cannot hang the driver.
LRESULT send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

std::vector<std::wstring> comboItems(HWND combo);
int comboSelection(HWND combo);

// Visible top-level dialog-class windows of a process.
std::vector<HWND> dialogsOf(DWORD processId);
// The first such window with the caption, within the time limit; null otherwise.
HWND waitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs);
// A visible top-level dialog window owned by `owner`, other than those listed.
HWND waitForOwnedDialog(HWND owner, DWORD timeoutMs, const std::vector<HWND>& except = {});
bool waitForClosed(HWND window, DWORD timeoutMs);

// The texts of a window's direct children, in z-order.
std::vector<std::wstring> childTexts(HWND window);

// The window with the given keyboard focus in the thread that owns `window`.
HWND focusOf(HWND window);

// Types `path` into Wine's open-file dialog and confirms it; true once the
// dialog has closed.
bool confirmOpenFile(HWND open, const std::wstring& path, DWORD timeoutMs);

}  // namespace probe
