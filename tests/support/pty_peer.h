// A scripted device on a pseudo-terminal: the code under test opens it as a COM
// port by number, the test plays the device through the other end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

class PtyPeer {
  public:
    // One step of a script: once `expect` more bytes from the tool have been
    // read, write `answer` back (expect 0: answer at once).
    struct Step {
        std::size_t expect;
        Bytes answer;
    };

    struct ScriptOutcome {
        bool completed;        // every step ran
        std::size_t stepsRun;  // steps whose answer was written
        Bytes received;        // all bytes read from the tool while the script ran
    };

    // Creates the pseudo-terminal (raw, like the port layer sets it), a private
    // port folder with com<portNumber> linked to it, and points QUORVEL_PORT_DIR there.
    explicit PtyPeer(int portNumber = 7);
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    int portNumber() const { return portNumber_; }

    // Writes bytes for the tool to read; false when they could not all be
    // written within `limit` (the tool is not reading).
    bool send(const Bytes& bytes, std::chrono::milliseconds limit = std::chrono::seconds(2));
    bool send(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(2));

    // Reads exactly `count` bytes written by the tool, or what came within `limit`.
    Bytes receive(std::size_t count, std::chrono::milliseconds limit = std::chrono::seconds(2));
    // Reads what the tool wrote until nothing has come for `quiet`.
    Bytes receiveAvailable(std::chrono::milliseconds quiet = std::chrono::milliseconds(50));

    // Bytes written by the peer that the tool has not read yet.
    std::size_t queuedForTool() const;
    // Waits until the tool's side holds exactly `count` unread bytes; a pty
    // hands written bytes over with a short delay.
    bool waitUntilQueuedForTool(std::size_t count,
                                std::chrono::milliseconds limit = std::chrono::seconds(2)) const;

    // Runs `steps` on a thread of its own. Each step waits at most `stepLimit`
    // for its bytes; a script that runs out of time hangs up, so the tool sees
    // a dead line instead of a device that merely answers late.
    void runScript(std::vector<Step> steps,
                   std::chrono::milliseconds stepLimit = std::chrono::seconds(5));
    // Waits for the script's thread and reports what happened.
    ScriptOutcome finishScript();

    // Closes the device side: the tool's writes fail and its reads see no data.
    void hangUp();

  private:
    int portNumber_;
    std::atomic<int> master_{-1};  // closed by hangUp, possibly from the script thread
    int slave_ = -1;               // kept open so the line stays up while the tool reopens it
    std::string directory_;
    std::string linkPath_;
    std::thread scriptThread_;
    ScriptOutcome outcome_{};
};
