#include "app/framework/dialog.h"

#include "app/framework/win_app.h"

namespace {

// Messages whose result a dialog procedure returns itself instead of through
// DWLP_MSGRESULT.
bool returnsResultDirectly(UINT message) {
    switch (message) {
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_VKEYTOITEM:
            return true;
        default:
            return false;
    }
}

// An owned dialog that its initialisation neither showed nor moved opens
// centred over its owner; a dialog without an owner keeps its template position.
void centreIfUnplaced(HWND window, const RECT& before) {
    HWND owner = ::GetWindow(window, GW_OWNER);
    RECT rect;
    ::GetWindowRect(window, &rect);
    if (owner == nullptr || ::IsWindowVisible(window) || rect.left != before.left ||
        rect.top != before.top) {
        return;
    }
    RECT area;
    ::GetWindowRect(owner, &area);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    const int x = (area.left + area.right - width) / 2;
    const int y = (area.top + area.bottom - height) / 2;
    ::SetWindowPos(window, nullptr, x > 0 ? x : 0, y > 0 ? y : 0, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool matches(const MessageMapEntry& entry, UINT message, WPARAM wParam) {
    if (entry.message != message) return false;
    if (message != WM_COMMAND) return true;
    return entry.id == LOWORD(wParam) && entry.code == HIWORD(wParam);
}

}  // namespace

CDialogEx::CDialogEx(UINT templateId, CWnd* parent)
    : m_templateId(templateId), m_pParentWnd(parent) {}

INT_PTR CDialogEx::DoModal() {
    HWND owner = m_pParentWnd != nullptr ? m_pParentWnd->m_hWnd : nullptr;
    if (owner == nullptr) {
        CWnd* mainWindow = AfxGetMainWnd();
        if (mainWindow != nullptr && mainWindow != this) owner = mainWindow->m_hWnd;
    }
    return ::DialogBoxParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_templateId), owner,
                             DialogProc, reinterpret_cast<LPARAM>(this));
}

const MessageMap& CDialogEx::GetMessageMap() const {
    static const MessageMap empty{nullptr, 0};
    return empty;
}

void CDialogEx::Default() {
    if (m_defaulted != nullptr) *m_defaulted = true;
}

INT_PTR CALLBACK CDialogEx::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CDialogEx*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        dialog->m_hWnd = window;
        RECT before;
        ::GetWindowRect(window, &before);
        const BOOL result = dialog->OnInitDialog();
        centreIfUnplaced(window, before);
        return result;
    }
    auto* dialog = reinterpret_cast<CDialogEx*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (dialog == nullptr) return FALSE;  // messages before WM_INITDIALOG
    if (message == WM_NCDESTROY) {
        dialog->m_hWnd = nullptr;
        return FALSE;
    }
    return dialog->Dispatch(message, wParam, lParam);
}

INT_PTR CDialogEx::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const MessageMap& map = GetMessageMap();
    for (std::size_t i = 0; i < map.count; ++i) {
        const MessageMapEntry& entry = map.entries[i];
        if (!matches(entry, message, wParam)) continue;

        // Handlers may run nested (a message box pumps messages), so each
        // dispatch keeps its own "passed on" flag.
        bool defaulted = false;
        bool* outer = m_defaulted;
        m_defaulted = &defaulted;
        LRESULT result = 0;
        entry.dispatch(*this, wParam, lParam, result);
        m_defaulted = outer;

        if (defaulted) return FALSE;
        if (returnsResultDirectly(message)) return static_cast<INT_PTR>(result);
        if (m_hWnd != nullptr) ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, result);
        return TRUE;
    }

    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return TRUE;
        }
    }
    return FALSE;
}
