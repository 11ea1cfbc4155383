// Runs the device simulator (tools/devsim) as a child process for a native
// test: a private folder holds the port link, the flash file, the transcript
// and the control file, and QUORVEL_PORT_DIR points at it so that port
// portNumber() opens the simulated device.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

class DevsimProcess {
  public:
    // Starts devsim with `arguments` plus the link, flash, transcript and
    // control options, and waits (at most 5 s) until it serves the port. A
    // failure to start is reported as a test failure; started() tells.
    explicit DevsimProcess(const std::vector<std::string>& arguments, int portNumber = 5);
    // SIGTERM, a bounded wait, SIGKILL if needed; then the folder is removed.
    ~DevsimProcess();
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    bool started() const { return started_; }
    int portNumber() const { return portNumber_; }
    const std::string& directory() const { return directory_; }
    std::string linkPath() const;

    // The flash file of board `board` (empty until its first acknowledged end
    // packet): board 1 is the one present at start, each "place" the next.
    std::vector<std::uint8_t> flash(int board = 1) const;
    std::string transcript() const;
    // Polls the transcript until it contains `text`; false after the time limit.
    bool waitForTranscript(const std::string& text, int timeoutMs = 5000) const;

    // Writes one command (see devsim --help) and waits until the simulator
    // has carried it out; false after the time limit.
    bool control(const std::string& command, int timeoutMs = 5000);

    // Stops the simulator now (as the destructor does); it flushes the flash file.
    void stop();

  private:
    std::string directory_;
    int portNumber_;
    pid_t pid_ = -1;
    bool started_ = false;
};
