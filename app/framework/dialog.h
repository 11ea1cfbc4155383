// CDialogEx: a modal dialog from a template whose messages go to the handlers
// of a per-class message map, searched in table order.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstddef>

#include "app/framework/wnd.h"

// One row of a message map: the message, and for WM_COMMAND the notification
// code and control id it answers; `dispatch` calls the handler.
struct MessageMapEntry {
    UINT message;
    UINT code;
    UINT id;
    void (*dispatch)(CWnd& target, WPARAM wParam, LPARAM lParam, LRESULT& result);
};

struct MessageMap {
    const MessageMapEntry* entries;
    std::size_t count;
};

class CDialogEx : public CWnd {
  public:
    explicit CDialogEx(UINT templateId, CWnd* parent = nullptr);
    CDialogEx(const CDialogEx&) = delete;
    CDialogEx& operator=(const CDialogEx&) = delete;

    // Runs the dialog until EndDialog; returns its result, or -1 if it could not
    // be created. Without a parent the application's main window owns it.
    INT_PTR DoModal();
    void EndDialog(int result) const { ::EndDialog(m_hWnd, result); }

    virtual BOOL OnInitDialog() { return TRUE; }

  protected:
    // The default OK/Cancel handling, used when the map has no entry for them.
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    virtual const MessageMap& GetMessageMap() const;

    // Leaves the message being handled to the system's default dialog handling.
    void Default();

    // Base handlers, for overrides that pass a message on.
    void OnSysCommand(UINT, LPARAM) { Default(); }
    void OnPaint() { Default(); }
    void OnDropFiles(HDROP) { Default(); }
    BOOL OnSetCursor(HWND, UINT, UINT) {
        Default();
        return FALSE;
    }

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_pParentWnd;
    bool* m_defaulted = nullptr;  // set by Default() for the message being dispatched
};

// Builders of message map rows; each checks the handler's signature.
namespace message_map {

template <typename Member>
struct MemberOf;
template <typename Class, typename Result, typename... Args>
struct MemberOf<Result (Class::*)(Args...)> {
    using type = Class;
};
template <auto Handler>
typename MemberOf<decltype(Handler)>::type& target(CWnd& window) {
    return static_cast<typename MemberOf<decltype(Handler)>::type&>(window);
}

template <auto Handler>
constexpr MessageMapEntry command(UINT code, UINT id) {
    return {WM_COMMAND, code, id,
            [](CWnd& window, WPARAM, LPARAM, LRESULT&) { (target<Handler>(window).*Handler)(); }};
}

template <auto Handler>
constexpr MessageMapEntry onSysCommand() {
    return {WM_SYSCOMMAND, 0, 0, [](CWnd& window, WPARAM wParam, LPARAM lParam, LRESULT&) {
                (target<Handler>(window).*Handler)(static_cast<UINT>(wParam), lParam);
            }};
}

template <auto Handler>
constexpr MessageMapEntry onPaint() {
    return {WM_PAINT, 0, 0,
            [](CWnd& window, WPARAM, LPARAM, LRESULT&) { (target<Handler>(window).*Handler)(); }};
}

template <auto Handler>
constexpr MessageMapEntry onQueryDragIcon() {
    return {WM_QUERYDRAGICON, 0, 0, [](CWnd& window, WPARAM, LPARAM, LRESULT& result) {
                result = reinterpret_cast<LRESULT>((target<Handler>(window).*Handler)());
            }};
}

template <auto Handler>
constexpr MessageMapEntry onDropFiles() {
    return {WM_DROPFILES, 0, 0, [](CWnd& window, WPARAM wParam, LPARAM, LRESULT&) {
                (target<Handler>(window).*Handler)(reinterpret_cast<HDROP>(wParam));
            }};
}

template <auto Handler>
constexpr MessageMapEntry onSetCursor() {
    return {WM_SETCURSOR, 0, 0, [](CWnd& window, WPARAM wParam, LPARAM lParam, LRESULT& result) {
                result = (target<Handler>(window).*Handler)(reinterpret_cast<HWND>(wParam),
                                                            LOWORD(lParam), HIWORD(lParam));
            }};
}

}  // namespace message_map

#define ON_WM_SYSCOMMAND(handler) message_map::onSysCommand<handler>()
#define ON_WM_PAINT(handler) message_map::onPaint<handler>()
#define ON_WM_QUERYDRAGICON(handler) message_map::onQueryDragIcon<handler>()
#define ON_WM_DROPFILES(handler) message_map::onDropFiles<handler>()
#define ON_WM_SETCURSOR(handler) message_map::onSetCursor<handler>()
#define ON_BN_CLICKED(id, handler) message_map::command<handler>(BN_CLICKED, id)
#define ON_CBN_SELCHANGE(id, handler) message_map::command<handler>(CBN_SELCHANGE, id)
#define ON_CBN_SETFOCUS(id, handler) message_map::command<handler>(CBN_SETFOCUS, id)
