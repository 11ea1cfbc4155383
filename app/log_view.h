// The log pane's services: appending text to a multi-line edit pane, and lines
// for the main dialog's log.
#pragma once

#include <windows.h>

#include <string>

class CQuorvelDlg;

// Appends `text` to the edit pane (line feeds become CR LF; the oldest lines
// go when the pane's own text limit is reached). Safe from any thread: every
// step is a message to the pane.
void AppendText(HWND pane, const std::wstring& text);

// Appends `text` to the main dialog's log pane.
void LogText(CQuorvelDlg* dialog, const std::wstring& text);
