// The log and info panes' append rule, apart from the edit control it runs on:
// line feeds become CR LF, and whole lines leave the top when the pane is full.
#pragma once

#include <string>

// The operations of a multi-line edit control that appending needs; character
// indices and lengths as the control counts them.
class TextPane {
  public:
    virtual ~TextPane() = default;
    virtual int textLength() const = 0;
    virtual int textLimit() const = 0;
    virtual int lineFromChar(int index) const = 0;
    virtual int lineIndex(int line) const = 0;
    virtual int lineLength(int index) const = 0;  // of the line holding `index`, without CR LF
    virtual void setSelection(int start, int end) = 0;
    virtual void clearSelection() = 0;
    virtual void scrollCaret() = 0;
    virtual void replaceSelection(const std::wstring& text) = 0;
};

// Puts a carriage return before every line feed that lacks one; a line feed at
// the very start always gets one.
std::wstring withCarriageReturns(const std::wstring& text);

// Appends at the end of the pane, first dropping whole lines from the top when
// the text would not fit the pane's limit, and leaves the caret after it in view.
void appendWithinLimit(TextPane& pane, const std::wstring& text);
