// The pane append rule: CR LF conversion, trimming whole lines at the limit,
// and the caret at the end.
#include "app/core/log_text.h"

#include <gtest/gtest.h>

#include "fake_pane.h"

namespace {

TEST(CarriageReturns, EveryLineFeedEndsUpWithExactlyOneCarriageReturn) {
    EXPECT_EQ(withCarriageReturns(L""), L"");
    EXPECT_EQ(withCarriageReturns(L"\n"), L"\r\n");
    EXPECT_EQ(withCarriageReturns(L"connected.\n"), L"connected.\r\n");
    EXPECT_EQ(withCarriageReturns(L"a\r\nb\r\n"), L"a\r\nb\r\n");
    EXPECT_EQ(withCarriageReturns(L"\n\n"), L"\r\n\r\n");
    EXPECT_EQ(withCarriageReturns(L"a\n\r\nb\n"), L"a\r\n\r\nb\r\n");
    EXPECT_EQ(withCarriageReturns(L"no break"), L"no break");
}

TEST(AppendWithinLimit, LineFeedAloneGetsItsOwnCarriageReturnAfterALoneOne) {
    // Only the appended text is looked at: a pane ending in CR still gets CR LF.
    FakePane pane(100, L"x\r");
    appendWithinLimit(pane, L"\n");
    EXPECT_EQ(pane.text(), L"x\r\r\n");
}

TEST(AppendWithinLimit, AppendsAtTheEndWithTheCaretAfterItInView) {
    FakePane pane(100, L"file name : a.bin\r\n");
    pane.setSelection(0, 4);  // a stale selection must not be replaced
    appendWithinLimit(pane, L"file size : 5\n");
    EXPECT_EQ(pane.text(), L"file name : a.bin\r\nfile size : 5\r\n");
    EXPECT_EQ(pane.caret(), pane.text().size());
    EXPECT_EQ(pane.caretInView(), 19u);  // scrolled to where the text goes
}

TEST(AppendWithinLimit, DropsWholeLinesFromTheTopWhenTheLimitIsReached) {
    // Limit 20, "abc" and "defg" each with CR LF (11 characters), 12 more:
    // the last character to go (index 2) is in the first line, which goes whole.
    FakePane pane(20, L"abc\r\ndefg\r\n");
    appendWithinLimit(pane, L"0123456789\r\n");
    EXPECT_EQ(pane.text(), L"defg\r\n0123456789\r\n");
    EXPECT_EQ(pane.text().size(), 18u);
}

TEST(AppendWithinLimit, DropsAsManyLinesAsTheNewTextNeeds) {
    FakePane pane(20, L"ab\r\ncd\r\nef\r\ngh\r\n");  // 16 characters
    appendWithinLimit(pane, L"0123456789\n");        // 12 after conversion
    // Index 7 (the LF ending "cd") must go, so "ab" and "cd" go.
    EXPECT_EQ(pane.text(), L"ef\r\ngh\r\n0123456789\r\n");
}

TEST(AppendWithinLimit, TextThatFitsExactlyTrimsNothing) {
    FakePane pane(20, L"abc\r\ndefg\r\n");
    appendWithinLimit(pane, L"012345678");  // 11 + 9 = 20
    EXPECT_EQ(pane.text(), L"abc\r\ndefg\r\n012345678");
}

TEST(AppendWithinLimit, TextLongerThanTheLimitEmptiesThePaneAndFillsItToTheLimit) {
    FakePane pane(10, L"abc\r\ndef");
    appendWithinLimit(pane, L"0123456789ABCDEF");
    EXPECT_EQ(pane.text(), L"0123456789");
}

TEST(AppendWithinLimit, TrimsAPaneWhoseLastLineHasNoLineBreak) {
    FakePane pane(12, L"abcdefghij");
    appendWithinLimit(pane, L"xyz\n");
    EXPECT_EQ(pane.text(), L"xyz\r\n");
}

}  // namespace
