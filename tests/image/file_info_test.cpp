// The info pane's three lines and the examination of the file behind them.
#include "image/file_info.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "image/file_access.h"
#include "image_files.h"
#include "platform/system_text.h"

namespace {

TEST(FileName, SplitsFoldersDriveAndTheLastDot) {
    struct Case {
        const wchar_t* path;
        const wchar_t* base;
        const wchar_t* extension;
    };
    const Case cases[] = {
        {L"C:\\images\\firmware.bin", L"firmware", L".bin"},
        {L"/tmp/images/fw.v2.bin", L"fw.v2", L".bin"},
        {L"Z:\\tmp/mixed\\name", L"name", L""},
        {L"C:image.bin", L"image", L".bin"},
        {L"C:\\dotted.dir\\noext", L"noext", L""},
        {L"C:\\trailing.", L"trailing", L"."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.path);
        const FileNameParts parts = splitFileName(c.path);
        EXPECT_EQ(parts.baseName, c.base);
        EXPECT_EQ(parts.extension, c.extension);
    }
}

TEST(FileInfoLines, ShowNameSizeAndDateInTheirFormats) {
    const auto lines = fileInfoLines({L"firmware", L".bin"}, 212992, UtcTime{2024, 3, 7, 4, 5, 9});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], L"file name : firmware.bin\n");
    EXPECT_EQ(lines[1], L"file size : 212992\n");
    EXPECT_EQ(lines[2], L"file date : 2024.03.07 04:05:09\n");

    EXPECT_EQ(fileInfoLines({L"noext", L""}, 0, UtcTime{})[0], L"file name : noext\n");
}

TEST(FileInfoLines, LongNamesAndExtensionsAreShownWhole) {
    const std::wstring base(300, L'n');
    const std::wstring extension = L".extension-longer-than-ten";
    const auto lines = fileInfoLines({base, extension}, 1, UtcTime{});
    EXPECT_EQ(lines[0], L"file name : " + base + extension + L"\n");
}

TEST(FileInfoLines, SizesBeyondThirtyTwoBitsAreShownInFull) {
    EXPECT_EQ(fileInfoLines({L"a", L""}, 0x100000005LL, UtcTime{})[1], L"file size : 4294967301\n");
}

class FileFactsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        savedZone_ = zone != nullptr ? zone : "";
        hadZone_ = zone != nullptr;
        // Far from UTC, so a local-time conversion would show.
        setenv("TZ", "KST-9", 1);
        tzset();
    }
    void TearDown() override {
        if (hadZone_) {
            setenv("TZ", savedZone_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

    ImageFiles files_;
    std::string savedZone_;
    bool hadZone_ = false;
};

TEST_F(FileFactsTest, ReportsSizeAndLastWriteTimeInUtc) {
    const std::wstring path = files_.make("dated.bin", 1234);
    const std::string narrow = utf8FromWide(path);
    // 2023-12-31 23:59:58 UTC, already 2024 in Seoul.
    const timeval times[2] = {{1704067198, 0}, {1704067198, 0}};
    ASSERT_EQ(utimes(narrow.c_str(), times), 0);

    FileFacts facts;
    ASSERT_TRUE(readFileFacts(path, facts));
    EXPECT_EQ(facts.size, 1234);
    const auto lines = fileInfoLines(splitFileName(path), facts.size, facts.lastWrite);
    EXPECT_EQ(lines[0], L"file name : dated.bin\n");
    EXPECT_EQ(lines[2], L"file date : 2023.12.31 23:59:58\n");
}

TEST_F(FileFactsTest, FailsForMissingFilesAndFilesHeldByAnotherProgram) {
    FileFacts facts;
    EXPECT_FALSE(readFileFacts(files_.pathOf("absent.bin"), facts));

    const std::wstring path = files_.make("held.bin", 10);
    const std::string narrow = utf8FromWide(path);
    const int holder = open(narrow.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_FALSE(readFileFacts(path, facts));
    close(holder);
    EXPECT_TRUE(readFileFacts(path, facts));
}

}  // namespace
