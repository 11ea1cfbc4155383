#include "tests/support/devsim_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifndef QUORVEL_DEVSIM_PATH
#error "QUORVEL_DEVSIM_PATH must name the devsim executable"
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartLimitMs = 5000;
constexpr int kStopLimitMs = 3000;

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// Reads the first line of `fd`, waiting at most `limitMs`.
std::string readLine(int fd, int limitMs) {
    std::string line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (Clock::now() < deadline) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, 50) <= 0) continue;
        char c = 0;
        if (read(fd, &c, 1) != 1) break;  // the simulator ended
        if (c == '\n') return line;
        line += c;
    }
    return std::string();
}

}  // namespace

DevsimProcess::DevsimProcess(const std::vector<std::string>& arguments, int portNumber)
    : portNumber_(portNumber) {
    char pattern[] = "/tmp/quorvel-devsim-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        ADD_FAILURE() << "cannot create a folder for the simulator";
        return;
    }
    directory_ = pattern;
    setenv("QUORVEL_PORT_DIR", directory_.c_str(), 1);

    std::vector<std::string> words{QUORVEL_DEVSIM_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> files{"--link",       linkPath(),
                                         "--flash",      directory_ + "/flash.bin",
                                         "--transcript", directory_ + "/transcript.txt",
                                         "--control",    directory_ + "/control"};
    words.insert(words.end(), files.begin(), files.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe failed";
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(output[1]);
    if (spawned != 0) {
        pid_ = -1;
        close(output[0]);
        ADD_FAILURE() << "cannot start " << argv[0];
        return;
    }
    const std::string line = readLine(output[0], kStartLimitMs);
    close(output[0]);
    started_ = line == "PORT " + linkPath();
    if (!started_) ADD_FAILURE() << "devsim did not report its port; it said '" << line << "'";
}

DevsimProcess::~DevsimProcess() {
    stop();
    if (!directory_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(directory_, ignored);
    }
}

void DevsimProcess::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStopLimitMs);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            ADD_FAILURE() << "devsim did not stop on SIGTERM";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    pid_ = -1;
}

std::string DevsimProcess::linkPath() const {
    return directory_ + "/com" + std::to_string(portNumber_);
}

std::vector<std::uint8_t> DevsimProcess::flash(int board) const {
    const std::string suffix = board == 1 ? "" : "." + std::to_string(board);
    const std::string bytes = readFile(directory_ + "/flash.bin" + suffix);
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

std::string DevsimProcess::transcript() const { return readFile(directory_ + "/transcript.txt"); }

bool DevsimProcess::waitForTranscript(const std::string& text, int timeoutMs) const {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (transcript().find(text) != std::string::npos) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool DevsimProcess::control(const std::string& command, int timeoutMs) {
    const std::string path = directory_ + "/control";
    const std::string temporary = path + ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << command << "\n";
        if (!file) return false;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return false;
    // The simulator deletes the file once the command has run.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (access(path.c_str(), F_OK) == 0) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
