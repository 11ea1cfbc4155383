// POSIX: an advisory lock (flock) on the file orders the station processes;
// the number is rewritten in place and synced before the lock is released.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "station/serial_file.h"

namespace {

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

bool failed(std::string& error) {
    error = std::strerror(errno);
    return false;
}

}  // namespace

// The number taken, or why not; `stop` and `lockLimitMs` are not waited on yet.
bool takeNumber(const std::string& path, std::uint64_t highest, bool advance, std::uint64_t& number,
                std::string& error, bool& exhausted) {
    const FileDescriptor file(open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (file.get() < 0) return failed(error);
    int locked = 0;
    while ((locked = flock(file.get(), LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0) return failed(error);

    char buffer[serial_file::kMaxTextBytes + 1];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t count =
            pread(file.get(), buffer + size, sizeof buffer - size, static_cast<off_t>(size));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return failed(error);
        if (count == 0) break;
        size += static_cast<std::size_t>(count);
    }
    std::size_t digits = 0;
    if (size > serial_file::kMaxTextBytes ||
        !serial_file::parseNumber(std::string(buffer, size), number, digits)) {
        error = "not a decimal number";
        return false;
    }
    if (number > highest || number == UINT64_MAX) {
        exhausted = true;
        error = "no serial number is left: " + std::to_string(number) + " is above " +
                std::to_string(highest);
        return false;
    }
    if (!advance) return true;

    const std::string next = serial_file::numberText(number + 1, digits);
    const ssize_t written = pwrite(file.get(), next.data(), next.size(), 0);
    if (written < 0) return failed(error);
    if (static_cast<std::size_t>(written) != next.size()) {
        errno = EIO;
        return failed(error);
    }
    if (ftruncate(file.get(), static_cast<off_t>(next.size())) != 0) return failed(error);
    if (fsync(file.get()) != 0) return failed(error);
    return true;  // closing the file releases the lock
}

SerialTake useSerialFile(const std::string& path, std::uint64_t highest, bool advance,
                         const std::atomic<bool>*, std::uint32_t) {
    SerialTake take;
    bool exhausted = false;
    if (takeNumber(path, highest, advance, take.number, take.error, exhausted)) {
        take.status = SerialStatus::Taken;
    } else {
        take.status = exhausted ? SerialStatus::Exhausted : SerialStatus::Failed;
    }
    return take;
}
