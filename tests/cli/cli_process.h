// Runs quorvel-cli as a child process for a native test: its standard output
// and error are collected, and every wait has a time limit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct CliOutcome {
    int status = -1;  // the exit status; -1 when it had to be killed
    std::string out;
    std::string err;
    double cpuSeconds = 0;  // user and system time the program used
};

class CliProcess {
  public:
    explicit CliProcess(const std::vector<std::string>& arguments);
    ~CliProcess();
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    // Collects output until standard error holds `text`; false after the time limit.
    bool waitForError(const std::string& text, int timeoutMs);
    void interrupt();  // SIGINT, as Ctrl-C sends it
    void hangUp();     // SIGHUP, as a closed terminal sends it
    // SIGKILL, as a crash or a power cut ends the program; then what it printed.
    CliOutcome kill();
    // What the program printed so far.
    const CliOutcome& soFar() const { return outcome_; }
    // Waits for the end; after the time limit the program is killed (status -1).
    CliOutcome finish(int timeoutMs);

  private:
    void collect(int waitMs);

    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
    CliOutcome outcome_;
};

// Runs the program to its end.
CliOutcome runCli(const std::vector<std::string>& arguments, int timeoutMs = 60000);

// A private folder of files for one test, removed afterwards.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    // Writes `content` to the file `name` in the folder; its path.
    std::string write(const std::string& name, const std::string& content) const;
    std::string pathOf(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// `size` bytes of a repeatable pseudo-random pattern.
Bytes pattern(std::size_t size, std::uint32_t seed);
std::string text(const Bytes& bytes);
