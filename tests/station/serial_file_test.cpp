// The serial-number file: numbers taken by processes at once are never given
// twice, and a file that holds no number is refused untouched.
#include "station/serial_file.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

}  // namespace
