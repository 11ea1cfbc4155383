// POSIX file names are bytes: widePath and utf8FromWide must give back every
// name's bytes, valid UTF-8 or not, so that the image files, the log and the
// serial-number file all open the name they were given.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/system_text.h"

namespace {

std::wstring escaped(std::initializer_list<unsigned> bytes) {
    std::wstring wide;
    for (const unsigned byte : bytes) wide += static_cast<wchar_t>(0xDC00 + byte);
    return wide;
}

TEST(WidePathPosix, EachByteOutsideValidUtf8StandsForItself) {
    const struct {
        std::string bytes;
        std::wstring wide;
    } cases[] = {
        {"\xFF", escaped({0xFF})},
        {"\xC0\xAF", escaped({0xC0, 0xAF})},                      // an overlong "/" stays two bytes
        {"\xED\xA0\x80", escaped({0xED, 0xA0, 0x80})},            // an encoded surrogate
        {"\xF4\x90\x80\x80", escaped({0xF4, 0x90, 0x80, 0x80})},  // above U+10FFFF
        {"a\xE2\x82", L"a" + escaped({0xE2, 0x82})},              // cut short at the end
        {"\xC3\xA9\x80\xC3\xA9", L"\u00E9" + escaped({0x80}) + L"\u00E9"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(widePath(test.bytes), test.wide);
        EXPECT_EQ(utf8FromWide(test.wide), test.bytes);
    }
}

TEST(WidePathPosix, EveryNameComesBackByteForByte) {
    // Every name of one and two bytes, and a spread of longer ones.
    for (unsigned first = 0; first < 256; ++first) {
        for (unsigned second = 0; second < 256; ++second) {
            const std::string name{static_cast<char>(first), static_cast<char>(second)};
            ASSERT_EQ(utf8FromWide(widePath(name)), name) << first << " " << second;
            ASSERT_EQ(utf8FromWide(widePath(name.substr(1))), name.substr(1));
        }
    }
    std::uint32_t state = 12345;
    for (int round = 0; round < 100000; ++round) {
        std::string name;
        for (int i = 0; i < 1 + round % 6; ++i) {
            state = state * 1103515245u + 12345u;
            // Mostly bytes that lead or continue sequences, where decoders go wrong.
            name += static_cast<char>(0x80 + (state >> 16) % 0x80);
        }
        ASSERT_EQ(utf8FromWide(widePath(name)), name);
    }
}

}  // namespace
