// UTF-8 and wide text, both ways, on every system; and the system's error texts.
#include "platform/system_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(WideText, UnicodeTextGoesBothWays) {
    const struct {
        std::string utf8;
        std::wstring wide;
    } cases[] = {
        {"", L""},
        {"COM5", L"COM5"},
        {"image-\xC3\xA9.bin", L"image-\u00E9.bin"},    // two bytes
        {"\xE2\x82\xAC 5", L"\u20AC 5"},                // three bytes
        {"clef \xF0\x9D\x84\x9E", L"clef \U0001D11E"},  // four bytes: a surrogate pair on Windows
        {"\xEF\xBF\xBF\xF4\x8F\xBF\xBF", L"\uFFFF\U0010FFFF"},  // the highest of each length
    };
    for (const auto& test : cases) {
        EXPECT_EQ(widePath(test.utf8), test.wide) << test.utf8;
        EXPECT_EQ(utf8FromWide(test.wide), test.utf8) << test.utf8;
    }
}

TEST(SystemErrorText, IsTheSystemsTextWithoutTheLineEndOrFullStop) {
    for (const unsigned long code : {2ul, 5ul, 13ul}) {
        const std::string text = systemErrorText(code);
        ASSERT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
        EXPECT_NE(text.back(), '.') << text;
        EXPECT_NE(text.back(), ' ') << text;
    }
}

}  // namespace
