#include "app/framework/win_app.h"

#include <objbase.h>
#include <ole2.h>

namespace {

CWinApp* theApplication = nullptr;

bool oleInitialized = false;

std::wstring moduleBaseName(HINSTANCE instance) {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(instance, path, MAX_PATH);
    std::wstring name(path, length < MAX_PATH ? length : 0);
    const std::size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return name;
}

}  // namespace

CWinApp::CWinApp(const wchar_t* appName) {
    if (appName != nullptr) m_appName = appName;
    theApplication = this;
}

CWinApp::~CWinApp() {
    if (theApplication == this) theApplication = nullptr;
}

HICON CWinApp::LoadIcon(UINT resourceId) const {
    return ::LoadIconW(m_hInstance, MAKEINTRESOURCEW(resourceId));
}

void CWinApp::DoWaitCursor(int code) {
    static const HCURSOR waitCursor = ::LoadCursorW(nullptr, IDC_WAIT);
    static const HCURSOR arrowCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    int count = m_waitCursorCount.load();
    if (code > 0) {
        count = m_waitCursorCount.fetch_add(1) + 1;
    } else if (code < 0) {
        // Never below zero: an unmatched End only restores the arrow.
        while (count > 0 && !m_waitCursorCount.compare_exchange_weak(count, count - 1)) {
        }
        count = count > 0 ? count - 1 : 0;
    }
    ::SetCursor(count > 0 ? waitCursor : arrowCursor);
}

// The program's entry point runs the one application object.
int runApplication(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) return 1;
    app->m_hInstance = instance;
    if (app->m_appName.empty()) app->m_appName = moduleBaseName(instance);
    // The application runs its main dialog modally inside InitInstance, so the
    // program ends when it returns; the framework runs no message loop of its own.
    app->InitInstance();
    app->m_pMainWnd = nullptr;
    const int exitCode = app->ExitInstance();
    if (oleInitialized) ::OleUninitialize();
    return exitCode;
}

CWinApp* AfxGetApp() { return theApplication; }

CWnd* AfxGetMainWnd() { return theApplication != nullptr ? theApplication->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() {
    return theApplication != nullptr ? theApplication->m_hInstance : ::GetModuleHandleW(nullptr);
}

const wchar_t* AfxGetAppName() {
    return theApplication != nullptr ? theApplication->m_appName.c_str() : L"";
}

void AfxEnableControlContainer() {
    if (!oleInitialized) oleInitialized = SUCCEEDED(::OleInitialize(nullptr));
}

CShellManager::CShellManager()
    : m_initialized(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

CShellManager::~CShellManager() {
    if (m_initialized) ::CoUninitialize();
}
