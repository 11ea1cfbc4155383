// The record log: records of two writers land whole, a line torn by a crash
// stays a line of its own, and a record that cannot reach the disk is reported
// with the system's error.
#include "station/record_log.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <utility>

namespace {

// A record of writer `writer`, number `index`, long enough that a write
// without O_APPEND would overwrite the other writer's records.
std::string record(int writer, int index) {
    return "{\"writer\":" + std::to_string(writer) + ",\"index\":" + std::to_string(index) +
           ",\"pad\":\"" + std::string(static_cast<std::size_t>(500 + index), 'a' + writer) + "\"}";
}

TEST(RecordLog, RecordsOfTwoWritersInterleaveWhole) {
    char pattern[] = "/tmp/quorvel-records-XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string path = pattern;

    auto writeRecords = [&path](int writer) {
        RecordLog log;
        int osError = 0;
        std::string error;
        ASSERT_TRUE(log.open(path, osError, error)) << error;
        for (int i = 0; i < 200; ++i) ASSERT_TRUE(log.append(record(writer, i), osError, error));
    };
    std::thread first(writeRecords, 0);
    std::thread second(writeRecords, 1);
    first.join();
    second.join();

    std::set<std::string> expected;
    for (int i = 0; i < 200; ++i) expected.insert({record(0, i), record(1, i)});
    std::ifstream file(path);
    std::string line;
    int lines = 0;
    while (std::getline(file, line)) {
        ++lines;
        EXPECT_EQ(expected.erase(line), 1u) << "line " << lines << " is not a whole record";
    }
    EXPECT_EQ(lines, 400);
    std::remove(path.c_str());
}

TEST(RecordLog, ReportsTheSystemErrorWhenARecordCannotBeStored) {
    RecordLog full;
    int osError = 0;
    std::string error;
    ASSERT_TRUE(full.open("/dev/full", osError, error)) << error;
    EXPECT_FALSE(full.append("{}", osError, error));
    EXPECT_EQ(osError, ENOSPC);
    EXPECT_EQ(error, "No space left on device");

    RecordLog missing;
    EXPECT_FALSE(missing.open("/nonexistent/records.jsonl", osError, error));
    EXPECT_EQ(osError, ENOENT);
}

// A log's text before a station opens it, and after it appends two records.
TEST(RecordLog, ATornLastLineStaysALineOfItsOwnAndReadsBack) {
    const std::string appended = "{\"unit\":3}\n{\"unit\":4}\n";
    const std::pair<std::string, std::string> logs[] = {
        {"{\"unit\":1}\n{\"unit\":2,\"po", "{\"unit\":1}\n{\"unit\":2,\"po\n" + appended},
        {"{\"unit\":1}\n", "{\"unit\":1}\n" + appended},
        {"", appended},
    };
    const std::string path = ::testing::TempDir() + "quorvel-torn-records.jsonl";
    for (const auto& [before, after] : logs) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << before;
        RecordLog log;
        int osError = 0;
        std::string error, read;
        ASSERT_TRUE(log.open(path, osError, error)) << error;
        ASSERT_TRUE(log.append("{\"unit\":3}", osError, error)) << error;
        ASSERT_TRUE(log.append("{\"unit\":4}", osError, error)) << error;
        ASSERT_TRUE(readLogText(path, read, error)) << error;
        EXPECT_EQ(read, after);
    }
    std::remove(path.c_str());

    std::string read = "left over", error;
    EXPECT_TRUE(readLogText(path, read, error));  // no log yet
    EXPECT_EQ(read, "");
    EXPECT_FALSE(readLogText("/tmp", read, error));
    EXPECT_EQ(error, "Is a directory");
}

}  // namespace
