// The log pane's services: appending text to a multi-line edit pane, and
// formatted lines for the main dialog's log.
#pragma once

#include <windows.h>

#include <string>

class CQuorvelDlg;

// Appends `text` to the edit pane (line feeds become CR LF; the oldest lines
// go when the pane's own text limit is reached). Safe from any thread: every
// step is a message to the pane.
void AppendText(HWND pane, const std::wstring& text);

// Formats with the wide printf conversions ("%i", "%s" for a wide string, ...)
// and appends the result to the log pane.
void LogPrintf(CQuorvelDlg* dialog, const wchar_t* format, ...);
