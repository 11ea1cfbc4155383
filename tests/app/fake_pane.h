// An in-memory multi-line edit control: lines end in CR LF, indices past the
// end answer for the last line, and insertions stop at the text limit.
#pragma once

#include <algorithm>
#include <string>

#include "app/core/log_text.h"

class FakePane : public TextPane {
  public:
    explicit FakePane(int limit, std::wstring text = L"") : text_(std::move(text)), limit_(limit) {}

    int textLength() const override { return static_cast<int>(text_.size()); }
    int textLimit() const override { return limit_; }
    int lineFromChar(int index) const override {
        const std::size_t end = std::min<std::size_t>(index, text_.size());
        int line = 0;
        for (std::size_t at = text_.find(L"\r\n"); at != std::wstring::npos && at + 2 <= end;
             at = text_.find(L"\r\n", at + 2)) {
            ++line;
        }
        return line;
    }
    int lineIndex(int line) const override {
        std::size_t start = 0;
        for (int i = 0; i < line; ++i) start = text_.find(L"\r\n", start) + 2;
        return static_cast<int>(start);
    }
    int lineLength(int index) const override {
        const std::size_t start = lineIndex(lineFromChar(index));
        const std::size_t end = std::min(text_.find(L"\r\n", start), text_.size());
        return static_cast<int>(end - start);
    }
    void setSelection(int start, int end) override {
        selectionStart_ = clamp(start);
        selectionEnd_ = clamp(end);
    }
    void clearSelection() override { replaceSelection(L""); }
    void scrollCaret() override { caretInView_ = selectionEnd_; }
    void replaceSelection(const std::wstring& text) override {
        const std::size_t kept = text_.size() - (selectionEnd_ - selectionStart_);
        const std::size_t room = limit_ > static_cast<int>(kept) ? limit_ - kept : 0;
        const std::wstring inserted = text.substr(0, room);
        text_.replace(selectionStart_, selectionEnd_ - selectionStart_, inserted);
        selectionStart_ = selectionEnd_ = selectionStart_ + inserted.size();
    }

    const std::wstring& text() const { return text_; }
    std::size_t caret() const { return selectionEnd_; }
    std::size_t caretInView() const { return caretInView_; }

  private:
    std::size_t clamp(int index) const {
        return std::min<std::size_t>(std::max(index, 0), text_.size());
    }

    std::wstring text_;
    int limit_;
    std::size_t selectionStart_ = 0;
    std::size_t selectionEnd_ = 0;
    std::size_t caretInView_ = 0;
};
