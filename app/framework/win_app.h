// CWinApp and the process-wide services around it: the one application object,
// its name, main window and wait cursor, message boxes, COM set-up.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "app/framework/cmd_target.h"
#include "app/framework/wnd.h"

class CWinApp : public CCmdTarget {
  public:
    // There is exactly one application object; without a name the program's
    // file name without its extension serves.
    explicit CWinApp(const wchar_t* appName = nullptr);
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Runs the program. The entry point ends the program when it returns.
    virtual BOOL InitInstance() { return TRUE; }
    // Called after InitInstance; its result is the program's exit code.
    virtual int ExitInstance() { return 0; }

    // Names the registry key for the application's settings; none are kept.
    void SetRegistryKey(const wchar_t* key) { m_registryKey = key; }

    HICON LoadIcon(UINT resourceId) const;

    // +1 begins a (nested) wait, -1 ends one, 0 shows the cursor the nesting calls for.
    void DoWaitCursor(int code);

    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance = nullptr;
    std::wstring m_appName;

  private:
    std::wstring m_registryKey;
    std::atomic<int> m_waitCursorCount{0};
};

// Runs the one application object: the body of the program's entry point.
// Returns the program's exit code.
int runApplication(HINSTANCE instance);

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
const wchar_t* AfxGetAppName();

// Prepares the user-interface thread to host OLE controls (initialises OLE on it).
void AfxEnableControlContainer();

// Keeps the shell's COM services available to the thread that creates it (the
// open-file dialog uses them) for as long as it lives.
class CShellManager {
  public:
    CShellManager();
    ~CShellManager();
    CShellManager(const CShellManager&) = delete;
    CShellManager& operator=(const CShellManager&) = delete;

  private:
    bool m_initialized;
};
