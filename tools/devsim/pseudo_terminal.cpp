#include "tools/devsim/pseudo_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace devsim {

namespace {

std::string systemError(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

// No echo, no line editing, no character translation: bytes pass unchanged.
bool makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&settings, B115200);
    cfsetospeed(&settings, B115200);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

// Runs in the forked helper: only async-signal-safe calls from here on.
[[noreturn]] void holdSlave(const char* slavePath, int readyPipe, pid_t parent) {
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    // Die with the simulator even if it is killed without a chance to clean up.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    if (setsid() < 0) _exit(1);
    const int slave = open(slavePath, O_RDWR);  // without O_NOCTTY: becomes our terminal
    if (slave < 0) _exit(1);
    ioctl(slave, TIOCSCTTY, 0);
    const int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
    }
    // Hold nothing else of the simulator's (the master, pipes, files).
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != slave && fd != readyPipe) close(fd);
    }
    const char ready = 1;
    (void)write(readyPipe, &ready, 1);
    close(readyPipe);
    for (;;) pause();
}

}  // namespace

bool PseudoTerminal::create(std::string& error) {
    tearDown();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0) {
        error = systemError("posix_openpt");
        return false;
    }
    const char* name = nullptr;
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || (name = ptsname(master_)) == nullptr) {
        error = systemError("grantpt/unlockpt/ptsname");
        tearDown();
        return false;
    }
    slavePath_ = name;
    slave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave_ < 0 || !makeRaw(slave_)) {
        error = systemError("slave set-up");
        tearDown();
        return false;
    }
    if (!startHolder(error)) {
        tearDown();
        return false;
    }
    return true;
}

bool PseudoTerminal::startHolder(std::string& error) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) {
        error = systemError("pipe");
        return false;
    }
    const pid_t parent = getpid();
    const std::string path = slavePath_;  // ptsname and friends are not usable after fork
    holder_ = fork();
    if (holder_ < 0) {
        error = systemError("fork");
        close(ready[0]);
        close(ready[1]);
        return false;
    }
    if (holder_ == 0) {
        close(ready[0]);
        holdSlave(path.c_str(), ready[1], parent);
    }
    close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    char flag = 0;
    const bool started = poll(&wait, 1, 5000) == 1 && read(ready[0], &flag, 1) == 1;
    close(ready[0]);
    if (!started) error = "the terminal holder process did not start";
    return started;
}

void PseudoTerminal::tearDown() {
    if (holder_ > 0) {
        kill(holder_, SIGKILL);
        while (waitpid(holder_, nullptr, 0) < 0 && errno == EINTR) {
        }
        holder_ = -1;
    }
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = -1;
    master_ = -1;
    slavePath_.clear();
}

std::size_t PseudoTerminal::unreadByClient() const {
    int waiting = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &waiting) != 0 || waiting < 0) return 0;
    return static_cast<std::size_t>(waiting);
}

bool pointLink(const std::string& link, const std::string& target, std::string& error) {
    const std::string temporary = link + ".new" + std::to_string(getpid());
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 ||
        rename(temporary.c_str(), link.c_str()) != 0) {
        error = systemError(("link " + link).c_str());
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

void removeLink(const std::string& link) {
    if (!link.empty()) unlink(link.c_str());
}

}  // namespace devsim
