#include "app/log_view.h"

#include "app/core/log_text.h"
#include "app/quorvel_dlg.h"
#include "app/resource.h"

namespace {

// A multi-line edit control as a TextPane.
class EditPane : public TextPane {
  public:
    explicit EditPane(HWND edit) : edit_(edit) {}

    int textLength() const override { return ::GetWindowTextLengthW(edit_); }
    int textLimit() const override { return static_cast<int>(send(EM_GETLIMITTEXT)); }
    int lineFromChar(int index) const override {
        return static_cast<int>(send(EM_LINEFROMCHAR, index));
    }
    int lineIndex(int line) const override { return static_cast<int>(send(EM_LINEINDEX, line)); }
    int lineLength(int index) const override {
        return static_cast<int>(send(EM_LINELENGTH, index));
    }
    void setSelection(int start, int end) override { send(EM_SETSEL, start, end); }
    void clearSelection() override { send(WM_CLEAR); }
    void scrollCaret() override { send(EM_SCROLLCARET); }
    void replaceSelection(const std::wstring& text) override {
        send(EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }

  private:
    LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(edit_, message, wParam, lParam);
    }
    HWND edit_;
};

}  // namespace

void AppendText(HWND pane, const std::wstring& text) {
    EditPane editPane(pane);
    appendWithinLimit(editPane, text);
}

void LogText(CQuorvelDlg* dialog, const std::wstring& text) {
    AppendText(dialog->GetDlgItem(IDC_LOG).m_hWnd, text);
}
