// CWnd and CComboBox: thin handles on a window, reached by handle or dialog id.
#pragma once

#include <windows.h>

#include <string>

#include "app/framework/cmd_target.h"

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    explicit CWnd(HWND window) : m_hWnd(window) {}

    HWND GetSafeHwnd() const { return m_hWnd; }

    // The child with the given control id (its handle is null if there is none).
    CWnd GetDlgItem(int id) const { return CWnd(::GetDlgItem(m_hWnd, id)); }

    std::wstring GetWindowText() const;
    void SetWindowText(const std::wstring& text) const { ::SetWindowTextW(m_hWnd, text.c_str()); }
    BOOL EnableWindow(BOOL enable) const { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    HICON SetIcon(HICON icon, BOOL bigIcon) const;
    HMENU GetSystemMenu(BOOL revert) const { return ::GetSystemMenu(m_hWnd, revert); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }

    // A message box owned by this window; without a caption it carries the
    // application's name.
    int MessageBox(const wchar_t* text, const wchar_t* caption = nullptr, UINT type = MB_OK) const;

    HWND m_hWnd = nullptr;
};

class CComboBox : public CWnd {
  public:
    CComboBox() = default;
    explicit CComboBox(const CWnd& window) : CWnd(window.m_hWnd) {}

    void ResetContent() const { SendMessage(CB_RESETCONTENT); }
    int AddString(const std::wstring& text) const;
    int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
    int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
    int SetCurSel(int index) const { return static_cast<int>(SendMessage(CB_SETCURSEL, index)); }
    // The item's text; empty when there is no such item.
    std::wstring GetLBText(int index) const;
    void ShowDropDown(BOOL show) const { SendMessage(CB_SHOWDROPDOWN, show); }
    BOOL SetCueBanner(const wchar_t* text) const;
};
