#include "tests/support/pty_peer.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

PtyPeer::PtyPeer(int portNumber) : portNumber_(portNumber) {
    termios raw{};
    cfmakeraw(&raw);
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    int master = -1;
    if (openpty(&master, &slave_, nullptr, &raw, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    master_ = master;

    char pattern[] = "/tmp/quorvel-pty-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    directory_ = pattern;
    linkPath_ = directory_ + "/com" + std::to_string(portNumber_);
    if (symlink(ptsname(master), linkPath_.c_str()) != 0) {
        throw std::runtime_error("symlink failed");
    }
    setenv("QUORVEL_PORT_DIR", directory_.c_str(), 1);
}

PtyPeer::~PtyPeer() {
    if (scriptThread_.joinable()) scriptThread_.join();
    hangUp();
    if (slave_ >= 0) close(slave_);
    unlink(linkPath_.c_str());
    rmdir(directory_.c_str());
    const char* current = std::getenv("QUORVEL_PORT_DIR");
    if (current != nullptr && directory_ == current) unsetenv("QUORVEL_PORT_DIR");
}

bool PtyPeer::send(const Bytes& bytes, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int master = master_.load();
        if (master < 0) return false;
        const ssize_t n = write(master, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
        if (Clock::now() >= deadline) return false;
        pollfd waitFor{master, POLLOUT, 0};
        (void)poll(&waitFor, 1, 10);
    }
    return true;
}

bool PtyPeer::send(const std::string& text, std::chrono::milliseconds limit) {
    return send(Bytes(text.begin(), text.end()), limit);
}

Bytes PtyPeer::receive(std::size_t count, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    Bytes received;
    while (received.size() < count) {
        const int master = master_.load();
        if (master < 0) break;
        std::uint8_t chunk[4096];
        const std::size_t wanted = std::min(sizeof chunk, count - received.size());
        const ssize_t n = read(master, chunk, wanted);
        if (n > 0) {
            received.insert(received.end(), chunk, chunk + n);
            continue;
        }
        const int left = millisecondsUntil(deadline);
        if (left == 0) break;
        pollfd waitFor{master, POLLIN, 0};
        (void)poll(&waitFor, 1, std::min(left, 10));
    }
    return received;
}

Bytes PtyPeer::receiveAvailable(std::chrono::milliseconds quiet) {
    Bytes received;
    for (;;) {
        Bytes more = receive(4096, quiet);
        if (more.empty()) return received;
        received.insert(received.end(), more.begin(), more.end());
    }
}

std::size_t PtyPeer::queuedForTool() const {
    int queued = 0;
    if (ioctl(slave_, FIONREAD, &queued) != 0) return 0;
    return static_cast<std::size_t>(queued);
}

bool PtyPeer::waitUntilQueuedForTool(std::size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = Clock::now() + limit;
    while (queuedForTool() != count) {
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void PtyPeer::runScript(std::vector<Step> steps, std::chrono::milliseconds stepLimit) {
    if (scriptThread_.joinable()) scriptThread_.join();
    outcome_ = ScriptOutcome{false, 0, {}};
    scriptThread_ = std::thread([this, steps = std::move(steps), stepLimit] {
        for (const Step& step : steps) {
            Bytes got = receive(step.expect, stepLimit);
            outcome_.received.insert(outcome_.received.end(), got.begin(), got.end());
            if (got.size() < step.expect || !send(step.answer, stepLimit)) {
                hangUp();
                return;
            }
            ++outcome_.stepsRun;
        }
        outcome_.completed = true;
    });
}

PtyPeer::ScriptOutcome PtyPeer::finishScript() {
    if (scriptThread_.joinable()) scriptThread_.join();
    return outcome_;
}

void PtyPeer::hangUp() {
    const int master = master_.exchange(-1);
    if (master >= 0) close(master);
}
