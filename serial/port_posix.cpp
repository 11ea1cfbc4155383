// POSIX backend: ports are "comN" entries (usually symlinks to tty devices) in
// the folder named by QUORVEL_PORT_DIR, the way Wine maps its COM ports.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "serial/port_backend.h"
#include "serial/serial_port.h"

namespace {

std::string portPath(std::int32_t portNumber) {
    const char* dir = std::getenv("QUORVEL_PORT_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/com" + std::to_string(portNumber);
}

bool configure(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (cfsetispeed(&settings, B115200) != 0 || cfsetospeed(&settings, B115200) != 0) return false;
    if (tcsetattr(fd, TCSANOW, &settings) != 0) return false;
    // Assert DTR and RTS; a pseudo-terminal has no modem lines, which is fine.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)ioctl(fd, TIOCMBIS, &lines);
    return true;
}

// Asks the driver for low-latency mode: a USB adapter then passes each reply
// on at once instead of holding it for its latency timer (ftdi_sio sets the
// timer to 1 ms). True when the mode was switched on here. Drivers that have
// no such setting refuse the request (a pseudo-terminal with ENOTTY): nothing
// to do then, and nothing to report.
bool addLowLatency(int fd) {
    serial_struct settings{};
    if (ioctl(fd, TIOCGSERIAL, &settings) != 0) return false;
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0) return false;  // on already: leave it so
    settings.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &settings) == 0;
}

// Gives the line back as the open found it.
void removeLowLatency(int fd) {
    serial_struct settings{};
    if (ioctl(fd, TIOCGSERIAL, &settings) != 0) return;
    settings.flags &= ~ASYNC_LOW_LATENCY;
    (void)ioctl(fd, TIOCSSERIAL, &settings);
}

// How long the first read after a write, if it may wait, keeps trying before
// it sleeps in poll: a fast device's reply follows within microseconds, and
// poll's wake-up latency would add to every packet. Later reads, such as those
// of a reply trickling in at the line rate, go straight to poll.
constexpr std::chrono::microseconds kSpinBeforeWait{200};

std::int64_t steadyNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

// A raw tty read with nothing to give returns 0 (or fails with EAGAIN).
bool nothingYet(ssize_t received) { return received == 0 || (received < 0 && wouldBlock(errno)); }

}  // namespace

PortHandle openPort(SerialPort* port, std::int32_t portNumber) {
    port->openedPortNumber = portNumber;
    return openPortAtPath(port, portPath(portNumber));
}

PortHandle openPortAtPath(SerialPort* port, const std::string& path) {
    port->handle = kInvalidPortHandle;
    port->openError = 0;

    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Another program's TIOCEXCL refuses the open with EBUSY.
        port->openError = errno;
        return kInvalidPortHandle;
    }
    // Exclusive use: an advisory lock (TIOCEXCL alone does not stop root).
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        port->openError = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return kInvalidPortHandle;
    }
    if (ioctl(fd, TIOCEXCL) != 0 || !configure(fd)) {
        port->openError = errno != 0 ? errno : EIO;
        close(fd);
        return kInvalidPortHandle;
    }
    // Bytes the last user of the port left unread (say the acknowledgement of
    // a cut transfer) would pass for the device's reply to this user's first request.
    (void)tcflush(fd, TCIFLUSH);
    port->lowLatencyAdded = addLowLatency(fd);
    port->handle = fd;
    return port->handle;
}

void closePort(SerialPort* port) {
    if (port == nullptr) return;
    if (port->handle != kInvalidPortHandle) {
        // The exclusive flag belongs to the terminal, not to this descriptor: a
        // terminal that another process keeps open would stay closed to
        // everyone but root.
        if (port->lowLatencyAdded) removeLowLatency(static_cast<int>(port->handle));
        (void)ioctl(static_cast<int>(port->handle), TIOCNXCL);
        close(static_cast<int>(port->handle));
        port->handle = kInvalidPortHandle;
    }
    delete port;
}

int readBytes(SerialPort* port, void* buffer, std::uint32_t& count, std::uint32_t waitMs) {
    const int fd = static_cast<int>(port->handle);
    const std::uint32_t wanted = count;
    count = 0;
    ssize_t received = read(fd, buffer, wanted);
    const bool replyDue = port->replyDue;
    port->replyDue = false;
    if (waitMs > 0 && replyDue && nothingYet(received) && port->repliesWithinSpin) {
        const auto spinEnd = std::chrono::steady_clock::now() + kSpinBeforeWait;
        do {
            received = read(fd, buffer, wanted);
        } while (nothingYet(received) && std::chrono::steady_clock::now() < spinEnd);
        // A reply that did not come within the spin will not next time either:
        // spinning would only burn the processor on every packet.
        if (nothingYet(received)) port->repliesWithinSpin = false;
    }
    if (received < 0 && !wouldBlock(errno)) return errno;
    if (received <= 0) {
        // Nothing yet: wait for the first byte. A raw tty read returns 0 both
        // when nothing has arrived and when the other end has gone, so poll also
        // tells the hang-up apart, at once rather than at the caller's deadline.
        pollfd state{fd, POLLIN, 0};
        if (poll(&state, 1, static_cast<int>(waitMs)) != 1) return 0;  // time out, or a signal
        if ((state.revents & POLLIN) == 0) return EIO;                 // hung up
        received = read(fd, buffer, wanted);
        if (received < 0) return wouldBlock(errno) ? 0 : errno;
        if (received == 0) return (state.revents & (POLLHUP | POLLERR)) != 0 ? EIO : 0;
        // A reply that came quickly after all: spinning pays again.
        if (replyDue && steadyNanos() - port->writtenAtNs < kSpinBeforeWait.count() * 1000) {
            port->repliesWithinSpin = true;
        }
    }
    count = static_cast<std::uint32_t>(received);
    traceBytes(kReadTracePrefix, buffer, count);
    return 0;
}

int writeBytes(SerialPort* port, const void* data, std::uint32_t& count) {
    const int fd = static_cast<int>(port->handle);
    const std::uint32_t wanted = count;
    count = 0;
    if (wanted == 0) return 0;
    ssize_t taken = write(fd, data, wanted);
    if (taken == 0 || (taken < 0 && wouldBlock(errno))) {
        // The driver's buffer is full: wait one slice for room, then try once
        // more. A device that does not drain its input leaves the caller to
        // decide when to give up.
        pollfd room{fd, POLLOUT, 0};
        (void)poll(&room, 1, static_cast<int>(kWriteSliceMs));
        taken = write(fd, data, wanted);
    }
    if (taken < 0 && !wouldBlock(errno)) return errno;
    if (taken > 0) {
        count = static_cast<std::uint32_t>(taken);
        port->replyDue = true;
        port->writtenAtNs = steadyNanos();
        traceBytes(kWriteTracePrefix, data, count);
    }
    return 0;
}

std::string devicePortIdentity(const std::string& name) {
    std::int32_t number = 0;
    const bool comName = comPortNumber(name, number);
    struct stat target {};
    // stat follows links: a by-id link, a comN link and the device path meet
    // at one device.
    if (stat((comName ? portPath(number) : name).c_str(), &target) != 0) {
        return comName ? "COM" + std::to_string(number) : name;
    }
    if (S_ISCHR(target.st_mode) || S_ISBLK(target.st_mode)) {
        return "device " + std::to_string(major(target.st_rdev)) + ":" +
               std::to_string(minor(target.st_rdev));
    }
    // Not a device (a test may name a plain file): the file itself.
    return "file " + std::to_string(target.st_dev) + ":" + std::to_string(target.st_ino);
}

bool portInUse(int openError) { return openError == EBUSY; }

bool portAbsent(int openError) {
    return openError == ENOENT || openError == ENODEV || openError == ENXIO || openError == EIO;
}

int absentPortError() { return ENOENT; }

PortNameList enumeratePorts() {
    PortNameList names;
    for (int number = 0; number <= kHighestListedPort; ++number) {
        struct stat target {};
        // stat follows the link: a link whose device is gone does not count.
        if (stat(portPath(number).c_str(), &target) == 0) {
            names.push_back(L"COM" + std::to_wstring(number));
        }
    }
    return names;
}
