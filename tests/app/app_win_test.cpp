// The pane services on real Win32 controls, under Wine: the append rule against
// an edit control's own line and limit handling, the log pane, ToWide, and the
// wait cursor of nested scopes and busy periods.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "app/busy.h"
#include "app/log_view.h"
#include "app/quorvel_dlg.h"
#include "app/to_wide.h"

namespace {

// The dialog constructor loads the application's icon through the application object.
CWinApp testApplication;

std::wstring textOf(HWND window) {
    wchar_t buffer[512] = L"";
    GetWindowTextW(window, buffer, 512);
    return buffer;
}

class EditPaneTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_ = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr,
                                  nullptr, nullptr);
        // The log pane's styles, under the dialog's id for it.
        edit_ = CreateWindowExW(0, L"Edit", L"",
                                WS_CHILD | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL |
                                    WS_VSCROLL | WS_BORDER | WS_DISABLED,
                                0, 0, 200, 100, parent_, reinterpret_cast<HMENU>(IDC_LOG), nullptr,
                                nullptr);
        ASSERT_NE(edit_, nullptr);
    }
    void TearDown() override { DestroyWindow(parent_); }

    HWND parent_ = nullptr;
    HWND edit_ = nullptr;
};

TEST_F(EditPaneTest, WorkedExampleTrimsTheFirstLineOfARealEditControl) {
    SendMessageW(edit_, EM_SETLIMITTEXT, 20, 0);
    AppendText(edit_, L"abc\ndefg\n");
    ASSERT_EQ(textOf(edit_), L"abc\r\ndefg\r\n");
    AppendText(edit_, L"0123456789\r\n");
    EXPECT_EQ(textOf(edit_), L"defg\r\n0123456789\r\n");
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start, 18u);
    EXPECT_EQ(end, 18u);
}

TEST_F(EditPaneTest, TextLongerThanTheLimitLeavesWhatTheControlAdmits) {
    SendMessageW(edit_, EM_SETLIMITTEXT, 10, 0);
    AppendText(edit_, L"ab\ncd\n");
    AppendText(edit_, L"0123456789ABCDEF");
    EXPECT_EQ(textOf(edit_), L"0123456789");
}

TEST_F(EditPaneTest, LogTextGoesToTheDialogsLogPane) {
    CQuorvelDlg dialog;
    dialog.m_hWnd = parent_;
    LogText(&dialog, L"connected.\n");
    LogText(&dialog, WidenAscii("disconnected.\n"));
    EXPECT_EQ(textOf(edit_), L"connected.\r\ndisconnected.\r\n");
    dialog.m_hWnd = nullptr;
}

// The wait cursor shows from the first scope or busy period until the last
// one ends, whatever the nesting; an unmatched end does not use up a later begin.
TEST(WaitCursor, ShowsUntilTheLastScopeOrBusyPeriodEnds) {
    const HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
    const HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    CQuorvelDlg dialog;
    g_mainDialog = &dialog;
    {
        const WaitCursorScope outer(testApplication);
        EXPECT_EQ(GetCursor(), wait);
        {
            const BusyPeriod busy;
            {
                const BusyPeriod nested;
                const WaitCursorScope inner(testApplication);
            }
            EXPECT_EQ(GetCursor(), wait) << "an inner end keeps the wait cursor";
        }
        EXPECT_EQ(GetCursor(), wait) << "the busy period's end keeps the outer scope's wait";
    }
    EXPECT_EQ(GetCursor(), arrow);

    EndBusy();
    testApplication.EndWaitCursor();
    {
        const BusyPeriod busy;
        EXPECT_EQ(GetCursor(), wait) << "unmatched ends left nothing owed";
    }
    EXPECT_EQ(GetCursor(), arrow);
    g_mainDialog = nullptr;
}

TEST(ToWide, ConvertsWithTheGivenCodePage) {
    wchar_t buffer[16] = L"stale";
    EXPECT_EQ(ToWide("v1.2\r\n", buffer, 7, CP_THREAD_ACP), buffer);
    EXPECT_STREQ(buffer, L"v1.2\r\n");
    EXPECT_EQ(ToWide("\xEC\xA0\x95", buffer, 16, CP_UTF8), buffer);
    EXPECT_STREQ(buffer, L"\xC815");
}

TEST(ToWide, RefusesMissingArgumentsAndTooSmallBuffers) {
    wchar_t buffer[4] = L"abc";
    EXPECT_EQ(ToWide(nullptr, buffer, 4, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(ToWide("x", nullptr, 4, CP_THREAD_ACP), nullptr);
    EXPECT_EQ(ToWide("x", buffer, 0, CP_THREAD_ACP), nullptr);
    EXPECT_STREQ(buffer, L"abc");  // capacity 0: not even the first character is written
    EXPECT_EQ(ToWide("toolong", buffer, 4, CP_THREAD_ACP), nullptr);
}

}  // namespace
