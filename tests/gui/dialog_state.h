// Reading the main dialog's state from the driver, with a time limit on every wait.
#pragma once

#include <windows.h>

#include <string>

namespace gui {

std::wstring logText(HWND dialog);
int progressPosition(HWND dialog);

// Waits until the control's text equals `text`.
bool waitForItemText(HWND dialog, int id, const std::wstring& text, DWORD timeoutMs);
// Waits until the log pane ends with `tail`.
bool waitForLogEnding(HWND dialog, const std::wstring& tail, DWORD timeoutMs);

// Checks the online button's text and the status label together, naming the state.
void checkConnection(HWND dialog, const std::string& state, const std::wstring& button,
                     const std::wstring& label);

// The cursor the desktop's foreground thread shows now.
HCURSOR currentCursor();
// The cursor shown after the dialog was asked for one, as a mouse movement
// over it would ask.
HCURSOR dialogCursor(HWND dialog);

}  // namespace gui
