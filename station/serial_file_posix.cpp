// POSIX: an advisory lock (flock) on the file orders the station processes;
// the number is rewritten in place and synced before the lock is released.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include "station/serial_file.h"

namespace {

using serial_file::Attempt;
using serial_file::failed;
using serial_file::stopped;
using serial_file::WaitEnd;

// Closes the descriptor, which also releases its lock.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

SerialTake failedWithErrno() { return failed(std::strerror(errno)); }

// Waits for the exclusive lock a bounded time, polling: a blocking flock could
// neither be stopped nor given up. Nothing when locked, else why no number can be taken.
std::optional<SerialTake> lock(int fd, const std::atomic<bool>* stop, std::uint32_t limitMs) {
    int lockError = 0;
    const WaitEnd end = serial_file::retryWhileBusy(
        [&] {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) return Attempt::Done;
            lockError = errno;
            return lockError == EWOULDBLOCK || lockError == EINTR ? Attempt::Busy : Attempt::Failed;
        },
        stop, limitMs);
    return serial_file::lockWaitOutcome(end, limitMs, std::strerror(lockError));
}

bool readText(int fd, std::string& text) {
    char buffer[serial_file::kMaxTextBytes + 1];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t count =
            pread(fd, buffer + size, sizeof buffer - size, static_cast<off_t>(size));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        if (count == 0) break;
        size += static_cast<std::size_t>(count);
    }
    text.assign(buffer, size);
    return true;
}

bool writeText(int fd, const std::string& text) {
    const ssize_t written = pwrite(fd, text.data(), text.size(), 0);
    if (written < 0) return false;
    if (static_cast<std::size_t>(written) != text.size()) {
        errno = EIO;
        return false;
    }
    return ftruncate(fd, static_cast<off_t>(text.size())) == 0 && fsync(fd) == 0;
}

}  // namespace

SerialTake useSerialFile(const std::string& path, std::uint64_t highest, bool advance,
                         const std::atomic<bool>* stop, std::uint32_t lockLimitMs) {
    const FileDescriptor file(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0) return failedWithErrno();
    if (const auto refused = lock(file.get(), stop, lockLimitMs)) return *refused;

    std::string text;
    if (!readText(file.get(), text)) return failedWithErrno();
    std::string next;
    const SerialTake take = serial_file::numberFromText(text, highest, next);
    if (take.status != SerialStatus::Taken || !advance) return take;
    if (!writeText(file.get(), next)) return failedWithErrno();
    return take;  // closing the file releases the lock
}
