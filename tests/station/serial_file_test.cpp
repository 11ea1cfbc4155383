// The serial-number file: numbers taken by processes at once are never given
// twice, a lock another program holds is waited for a bounded time, and a file
// that holds no number, or one above the highest, is refused untouched.
#include "station/serial_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

namespace {

class TempFile {
  public:
    explicit TempFile(const std::string& content) {
        char pattern[] = "/tmp/quorvel-serial-XXXXXX";
        const int fd = mkstemp(pattern);
        if (fd >= 0) close(fd);
        path_ = pattern;
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::remove(path_.c_str()); }
    const std::string& path() const { return path_; }
    std::string content() const {
        std::ifstream file(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

  private:
    std::string path_;
};

// A child process that takes `count` numbers and writes each as a line to a pipe.
struct Taker {
    pid_t pid = -1;
    int output = -1;
    std::string received;
};

Taker startTaker(const std::string& path, int count) {
    Taker taker;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return taker;
    taker.pid = fork();
    if (taker.pid == 0) {
        close(pipeEnds[0]);
        for (int i = 0; i < count; ++i) {
            const SerialTake take = SerialFile(path).take(UINT64_MAX, nullptr);
            const std::string line =
                take.status == SerialStatus::Taken ? std::to_string(take.number) + "\n" : "error\n";
            if (write(pipeEnds[1], line.data(), line.size()) < 0) _exit(1);
        }
        _exit(0);
    }
    close(pipeEnds[1]);
    taker.output = pipeEnds[0];
    return taker;
}

// Reads both children's lines until both end, 60 s at most; then reaps them.
void collect(std::vector<Taker>& takers) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        std::vector<pollfd> open;
        for (const Taker& taker : takers) {
            if (taker.output >= 0) open.push_back({taker.output, POLLIN, 0});
        }
        if (open.empty() || std::chrono::steady_clock::now() >= deadline) break;
        if (poll(open.data(), open.size(), 100) <= 0) continue;
        for (Taker& taker : takers) {
            if (taker.output < 0) continue;
            pollfd wait{taker.output, POLLIN, 0};
            if (poll(&wait, 1, 0) <= 0) continue;
            char buffer[512];
            const ssize_t count = read(taker.output, buffer, sizeof buffer);
            if (count > 0) {
                taker.received.append(buffer, static_cast<std::size_t>(count));
            } else {
                close(taker.output);
                taker.output = -1;
            }
        }
    }
    for (Taker& taker : takers) {
        if (taker.output >= 0) {
            ADD_FAILURE() << "a child did not finish in time";
            kill(taker.pid, SIGKILL);
            close(taker.output);
        }
        int status = 0;
        if (taker.pid > 0) waitpid(taker.pid, &status, 0);
    }
}

TEST(SerialFile, TwoProcessesTakingAtOnceGetDistinctConsecutiveNumbers) {
    const TempFile file("1000\n");
    std::vector<Taker> takers{startTaker(file.path(), 200), startTaker(file.path(), 200)};
    ASSERT_GT(takers[0].pid, 0);
    ASSERT_GT(takers[1].pid, 0);
    collect(takers);

    std::vector<std::uint64_t> numbers;
    for (const Taker& taker : takers) {
        std::istringstream lines(taker.received);
        std::string line;
        while (std::getline(lines, line)) {
            ASSERT_NE(line, "error");
            numbers.push_back(std::stoull(line));
        }
    }
    ASSERT_EQ(numbers.size(), 400u);
    std::sort(numbers.begin(), numbers.end());
    for (std::size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], 1000 + i);
    EXPECT_EQ(file.content(), "1400\n");
}

TEST(SerialFile, KeepsTheWidthAndRefusesWhatIsNotANumber) {
    const TempFile padded("0099\r\n");
    const SerialTake taken = SerialFile(padded.path()).take(UINT64_MAX, nullptr);
    ASSERT_EQ(taken.status, SerialStatus::Taken) << taken.error;
    EXPECT_EQ(taken.number, 99u);
    EXPECT_EQ(padded.content(), "0100\n");

    for (const std::string text : {"12a\n", "", "-5\n", "1 2\n", "18446744073709551616\n"}) {
        const TempFile bad(text);
        const SerialTake refused = SerialFile(bad.path()).take(UINT64_MAX, nullptr);
        EXPECT_EQ(refused.status, SerialStatus::Failed) << text;
        EXPECT_EQ(refused.error, "not a decimal number");
        EXPECT_EQ(bad.content(), text);
    }
    const SerialTake missing = SerialFile("/nonexistent/serial.txt").take(UINT64_MAX, nullptr);
    EXPECT_EQ(missing.status, SerialStatus::Failed);
    EXPECT_EQ(missing.error, "No such file or directory");
}

// A child process that holds an exclusive flock on the file until it is killed;
// its pid, once it holds the lock, or -1.
pid_t startLockHolder(const std::string& path) {
    int held[2];
    if (pipe(held) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(60);  // ends it should the test not
        const int fd = open(path.c_str(), O_RDWR);
        if (fd >= 0 && flock(fd, LOCK_EX) == 0 && write(held[1], "L", 1) == 1) pause();
        _exit(1);
    }
    close(held[1]);
    char byte = 0;
    const bool locked = pid > 0 && read(held[0], &byte, 1) == 1;
    close(held[0]);
    return locked ? pid : -1;
}

std::int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now() - start).count();
}

TEST(SerialFile, ALockHeldElsewhereIsWaitedForABoundedTimeOrUntilStopped) {
    const TempFile file("500\n");
    const pid_t holder = startLockHolder(file.path());
    ASSERT_GT(holder, 0);

    auto start = std::chrono::steady_clock::now();
    const SerialTake timedOut = SerialFile(file.path(), 300).take(UINT64_MAX, nullptr);
    EXPECT_EQ(timedOut.status, SerialStatus::Failed);
    EXPECT_EQ(timedOut.error,
              "the serial-number file has been locked by another program for more than 300 ms");
    EXPECT_GE(millisecondsSince(start), 280);  // the limit runs on another clock
    EXPECT_LT(millisecondsSince(start), 2000);

    // With a long limit, the stop flag set during the wait ends it.
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(SerialFile(file.path(), 60000).take(UINT64_MAX, &stop).status, SerialStatus::Stopped);
    EXPECT_LT(millisecondsSince(start), 2000);
    stopper.join();

    // Once the other program lets go, the number that was not taken is.
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(SerialFile(file.path(), 300).take(UINT64_MAX, nullptr).number, 500u);
    EXPECT_EQ(file.content(), "501\n");
}

// A check, a stopped take and a number above the highest leave the file as it was.
TEST(SerialFile, TakesUpToTheHighestAndChecksWithoutWriting) {
    const TempFile file("0099\n");
    const std::atomic<bool> stopping{true};
    EXPECT_EQ(SerialFile(file.path()).check(99).number, 99u);
    EXPECT_EQ(SerialFile(file.path()).take(99, &stopping).status, SerialStatus::Stopped);
    EXPECT_EQ(file.content(), "0099\n");
    EXPECT_EQ(SerialFile(file.path()).take(99, nullptr).number, 99u);
    EXPECT_EQ(file.content(), "0100\n");
    for (const SerialTake& refused :
         {SerialFile(file.path()).take(99, nullptr), SerialFile(file.path()).check(99)}) {
        EXPECT_EQ(refused.status, SerialStatus::Exhausted);
        EXPECT_EQ(refused.error,
                  "no serial number is left: the next, 100, is above the highest the serial "
                  "number's format holds, 99");
    }
    EXPECT_EQ(file.content(), "0100\n");

    // The last number a file can hold has no successor to write: it is not taken.
    const TempFile last("18446744073709551615\n");
    EXPECT_EQ(SerialFile(last.path()).take(UINT64_MAX, nullptr).status, SerialStatus::Exhausted);
    EXPECT_EQ(last.content(), "18446744073709551615\n");
}

}  // namespace
