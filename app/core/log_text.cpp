#include "app/core/log_text.h"

#include <climits>

namespace {

constexpr int kLineBreakLength = 2;  // CR LF

}  // namespace

std::wstring withCarriageReturns(const std::wstring& text) {
    std::wstring converted;
    converted.reserve(text.size() + text.size() / 8);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\n' && (i == 0 || text[i - 1] != L'\r')) converted += L'\r';
        converted += text[i];
    }
    return converted;
}

void appendWithinLimit(TextPane& pane, const std::wstring& text) {
    const std::wstring converted = withCarriageReturns(text);
    const long long added = static_cast<long long>(converted.size());
    int length = pane.textLength();
    const int limit = pane.textLimit();

    if (length + added > limit) {
        // Drop the lines up to and including the one that holds the last
        // character that has to go.
        const long long lastToGo = length + added - limit - 1;
        const int index = lastToGo > INT_MAX ? INT_MAX : static_cast<int>(lastToGo);
        const int start = pane.lineIndex(pane.lineFromChar(index));
        const int end = start + pane.lineLength(start) + kLineBreakLength;
        pane.setSelection(0, end);
        pane.clearSelection();
        length = pane.textLength();
    }

    pane.setSelection(length, length);
    pane.scrollCaret();
    pane.replaceSelection(converted);
}
