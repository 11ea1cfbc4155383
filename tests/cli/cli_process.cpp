#include "tests/cli/cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#ifndef QUORVEL_CLI_PATH
#error "QUORVEL_CLI_PATH must name the quorvel-cli executable"
#endif

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Appends what `fd` holds; closes it and sets it to -1 at its end.
void drain(int& fd, std::string& into) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& arguments) {
    std::vector<std::string> words{QUORVEL_CLI_PATH};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    out_ = outPipe[0];
    err_ = errPipe[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
    fcntl(err_, F_SETFL, O_NONBLOCK);
}

CliProcess::~CliProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
}

void CliProcess::collect(int waitMs) {
    pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (poll(fds, 2, waitMs) <= 0) return;
    if (out_ >= 0 && fds[0].revents != 0) drain(out_, outcome_.out);
    if (err_ >= 0 && fds[1].revents != 0) drain(err_, outcome_.err);
}

bool CliProcess::waitForError(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (outcome_.err.find(text) == std::string::npos) {
        if (Clock::now() >= deadline || (out_ < 0 && err_ < 0)) return false;
        collect(50);
    }
    return true;
}

void CliProcess::hangUp() {
    if (pid_ > 0) ::kill(pid_, SIGHUP);
}

void CliProcess::interrupt() {
    if (pid_ > 0) ::kill(pid_, SIGINT);
}

CliOutcome CliProcess::kill() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    return finish(5000);
}

CliOutcome CliProcess::finish(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((out_ >= 0 || err_ >= 0) && Clock::now() < deadline) collect(50);
    if (pid_ <= 0) return outcome_;
    int status = 0;
    rusage usage{};
    while (wait4(pid_, &status, WNOHANG, &usage) == 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            pid_ = -1;
            outcome_.status = -1;
            return outcome_;
        }
        usleep(10000);
    }
    pid_ = -1;
    outcome_.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome_.cpuSeconds =
        static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return outcome_;
}

CliOutcome runCli(const std::vector<std::string>& arguments, int timeoutMs) {
    CliProcess process(arguments);
    return process.finish(timeoutMs);
}

TempFolder::TempFolder() {
    char name[] = "/tmp/quorvel-cli-test-XXXXXX";
    path_ = mkdtemp(name) != nullptr ? name : "/tmp";
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempFolder::write(const std::string& name, const std::string& content) const {
    const std::string path = pathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }
