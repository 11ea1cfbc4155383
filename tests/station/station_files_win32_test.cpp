// The station's files on Windows: a serial-number file another program holds
// without sharing or locks is waited for a bounded time, and the files work in
// a folder whose name is not ASCII.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/system_text.h"
#include "station/image_digest.h"
#include "station/record_log.h"
#include "station/serial_file.h"

namespace {

// A folder of its own under the temporary folder, removed with its files.
class TestFolder {
  public:
    explicit TestFolder(const std::string& name) {
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH + 1, temp);
        path_ = utf8FromWide(temp) + name + "-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryW(widePath(path_).c_str(), nullptr);
    }
    ~TestFolder() {
        for (const std::string& file : files_) DeleteFileW(widePath(file).c_str());
        RemoveDirectoryW(widePath(path_).c_str());
    }
    // A file in the folder holding `content`; its UTF-8 path.
    std::string file(const std::string& name, const std::string& content) {
        files_.push_back(path_ + "\\" + name);
        std::ofstream(widePath(files_.back()).c_str(), std::ios::binary) << content;
        return files_.back();
    }

  private:
    std::string path_;
    std::vector<std::string> files_;
};

std::string contentOf(const std::string& path) {
    std::string content, error;
    EXPECT_TRUE(readLogText(path, content, error)) << error;
    return content;
}

HANDLE openShared(const std::string& path, DWORD share) {
    return CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

TEST(StationFilesWin32, AFileHeldWithoutSharingForAMomentIsWaitedFor) {
    TestFolder folder("quorvel-sharing");
    const std::string path = folder.file("serial.txt", "7\n");

    // Held for a moment, as a sync client does: the take waits and succeeds.
    HANDLE holder = openShared(path, 0);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread letGo([holder] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CloseHandle(holder);
    });
    const SerialTake taken = SerialFile(path).take(UINT64_MAX, nullptr);
    letGo.join();
    EXPECT_EQ(taken.status, SerialStatus::Taken) << taken.error;
    EXPECT_EQ(taken.number, 7u);
    EXPECT_EQ(contentOf(path), "8\n");
}

TEST(StationFilesWin32, ALockHeldElsewhereFailsTheTakeAfterTheLimit) {
    TestFolder folder("quorvel-lock");
    const std::string path = folder.file("serial.txt", "41\n");
    HANDLE holder = openShared(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    OVERLAPPED whole{};
    ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));

    const auto start = std::chrono::steady_clock::now();
    const SerialTake refused = SerialFile(path, 300).take(UINT64_MAX, nullptr);
    const std::int64_t waited = millisecondsSince(start);
    EXPECT_EQ(refused.status, SerialStatus::Failed);
    EXPECT_EQ(refused.error,
              "the serial-number file has been locked by another program for more than 300 ms");
    EXPECT_GE(waited, 280);  // the limit runs on another clock
    EXPECT_LT(waited, 3000);

    UnlockFileEx(holder, 0, MAXDWORD, MAXDWORD, &whole);
    CloseHandle(holder);
    EXPECT_EQ(SerialFile(path, 300).take(UINT64_MAX, nullptr).number, 41u);
    EXPECT_EQ(contentOf(path), "42\n");
}

TEST(StationFilesWin32, FilesInAFolderWithANonAsciiName) {
    TestFolder folder(
        "Pr\xC3\xBC"
        "fstand");
    const std::string serial = folder.file("serial.txt", "100\n");
    EXPECT_EQ(SerialFile(serial).take(UINT64_MAX, nullptr).number, 100u);
    EXPECT_EQ(contentOf(serial), "101\n");

    std::string hex, error;
    EXPECT_TRUE(fileSha256(serial, hex, error)) << error;
    EXPECT_EQ(hex, "39b8dc3fc8b44765c8e6f1adee04c5b465e555ab791cc42d0d9e810d5b64297c");

    // A log torn by a crash: the fragment stays a line of its own.
    const std::string logPath = folder.file("records.jsonl", "{\"unit\":1}\n{\"unit\":2,");
    {
        RecordLog log;
        int osError = 0;
        ASSERT_TRUE(log.open(logPath, osError, error)) << error;
        ASSERT_TRUE(log.append("{\"unit\":3}", osError, error)) << error;
        // Another station may append beside it; no program may delete it meanwhile.
        HANDLE other = CreateFileW(widePath(logPath).c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_NE(other, INVALID_HANDLE_VALUE);
        CloseHandle(other);
        EXPECT_FALSE(DeleteFileW(widePath(logPath).c_str()));
    }
    EXPECT_EQ(contentOf(logPath), "{\"unit\":1}\n{\"unit\":2,\n{\"unit\":3}\n");
    EXPECT_EQ(contentOf(serial + ".missing"), "");  // a log no station has written yet
}

}  // namespace
