// What every GUI scenario shares: the pass/fail report, Quorvel started on a
// Wine virtual desktop of its own, screenshots, and the few gestures the
// scenarios make (clicks, notifications, message boxes).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "app/resource.h"
#include "platform/system_text.h"

namespace gui {

constexpr int kDesktopWidth = 800;
constexpr int kDesktopHeight = 600;
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kStepTimeoutMs = 10000;

// Ids inside Wine's message and open-file boxes.
constexpr int kMessageText = 0xFFFF;
constexpr int kMessageIcon = 1088;
constexpr int kOpenFilter = 0x470;

// The message box texts of the dialog.
extern const wchar_t* const kNoDeviceMessage;
extern const wchar_t* const kCheckCableMessage;
extern const wchar_t* const kNoImageMessage;

// Failed checks so far; the scenario's exit code.
int failures();
void report(bool ok, const std::string& what, const std::string& detail = "");
bool check(bool condition, const std::string& what);
bool checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what);
// Prints a line that is neither a pass nor a failure (measurements, notes).
void note(const std::string& text);

// A Unix path as Wine's Z: drive sees it; other paths unchanged.
std::wstring windowsPath(const std::wstring& path);
std::wstring environment(const wchar_t* name);

// Quorvel on its own virtual desktop, started through Wine's explorer. Ending
// the session cancels the dialog (confirming the close if a download runs) and
// terminates Quorvel if it does not end by itself.
class QuorvelSession {
  public:
    QuorvelSession(const std::wstring& exe, const std::wstring& desktopName);
    ~QuorvelSession();
    QuorvelSession(const QuorvelSession&) = delete;
    QuorvelSession& operator=(const QuorvelSession&) = delete;

    bool ready() const { return dialog_ != nullptr && process_ != nullptr; }
    HWND dialog() const { return dialog_; }
    DWORD processId() const { return processId_; }
    bool running() const;
    bool waitForExit(DWORD timeoutMs) const;
    // The exit code once Quorvel has ended.
    DWORD exitCode() const;
    // Ends Quorvel at once (the watchdog's last resort).
    void terminate() const;

  private:
    PROCESS_INFORMATION explorer_{};
    HWND dialog_ = nullptr;
    DWORD processId_ = 0;
    HANDLE process_ = nullptr;
};

// Ends the driver with a failure after `limitMs`, terminating Quorvel first, so
// that a scenario that hangs still ends and leaves nothing running.
void startWatchdog(DWORD limitMs);

// Saves the virtual desktop as $QUORVEL_ARTIFACTS/<name>.png with the helper
// script given by --screenshot-script (set once by the driver's main).
void setScreenshotScript(const std::wstring& script);
void screenshot(const std::wstring& name);

// A screenshot taken while the driver goes on watching: start() runs the
// script at once, finish() waits for the picture.
class Screenshot {
  public:
    static Screenshot start(const std::wstring& name);
    void finish() const;

  private:
    std::wstring name_;
    std::wstring output_;  // empty when no picture is being taken
};

// Gestures on the main dialog. A posted BM_CLICK reaches the handler even when
// the button is disabled, as a stray click would.
void click(HWND dialog, int id);
// Sends the dialog a control's notification as the control itself would.
void notify(HWND dialog, int id, WORD code);
// Selects `name` in the port list and notifies the dialog; false if absent.
bool selectPort(HWND dialog, const std::wstring& name);

// The next message box the dialog owns: checks its caption, its text and
// whether it shows the information icon, then presses OK. False if none
// appeared within the time limit.
bool answerMessageBox(HWND dialog, const std::wstring& text, bool withIcon = true,
                      DWORD timeoutMs = kStepTimeoutMs);
// Presses "Load Binary File" and answers the open-file dialog with `path`
// (or cancels it when the path is empty). False if the dialog misbehaved.
bool chooseFile(const QuorvelSession& session, const std::wstring& path);

// True when the dialog shows no message box for `forMs`.
bool noMessageBoxFor(HWND dialog, DWORD forMs);

// The COM ports the system lists, in enumeration order.
std::vector<std::wstring> presentPorts();
std::ptrdiff_t indexOf(const std::vector<std::wstring>& items, const std::wstring& name);

}  // namespace gui
