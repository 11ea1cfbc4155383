// POSIX: O_APPEND makes each write land whole at the end of the file, also
// beside other processes appending to it; fdatasync puts it on disk.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "station/record_log.h"

namespace {

bool failed(int& osError, std::string& error) {
    osError = errno;
    error = std::strerror(osError);
    return false;
}

// Syncs the folder holding `path`, so that a file just created keeps its name
// after a power loss. Best effort: the records themselves are synced anyway.
void syncFolderOf(const std::string& path) {
    const std::string::size_type slash = path.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// True when the regular file open as `fd` (at `path`) is not empty and its last
// byte is not a line end. A file that cannot be read is taken as whole.
bool endsInsideALine(int fd, const std::string& path) {
    struct stat facts;
    if (fstat(fd, &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_size == 0) return false;
    const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (reader < 0) return false;
    char last = '\n';
    ssize_t count = 0;
    while ((count = pread(reader, &last, 1, facts.st_size - 1)) < 0 && errno == EINTR) {
    }
    close(reader);
    return count == 1 && last != '\n';
}

}  // namespace

bool RecordLog::open(const std::string& path, int& osError, std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_ >= 0) close(static_cast<int>(file_));
    file_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (file_ < 0) return failed(osError, error);
    torn_ = endsInsideALine(static_cast<int>(file_), path);
    syncFolderOf(path);
    return true;
}

bool RecordLog::append(const std::string& line, int& osError, std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_ < 0) {
        errno = EBADF;
        return failed(osError, error);
    }
    const std::string record = (torn_ ? "\n" : "") + line + "\n";
    const int fd = static_cast<int>(file_);
    std::size_t done = 0;
    while (done < record.size()) {
        // One write takes the whole record unless the disk fills in the middle of it.
        const ssize_t count = write(fd, record.data() + done, record.size() - done);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            torn_ = torn_ || done > 0;
            return failed(osError, error);
        }
        done += static_cast<std::size_t>(count);
    }
    torn_ = false;
    if (fdatasync(fd) != 0) return failed(osError, error);
    return true;
}

RecordLog::~RecordLog() {
    if (file_ >= 0) close(static_cast<int>(file_));
}
