// Windows: an exclusive byte-range lock (LockFileEx) over the whole file
// orders the station processes; the number is rewritten in place and flushed
// before the lock is released. Both the opening, which a program holding the
// file without sharing refuses, and the lock are tried again for a bounded
// time, so that a stop or the limit ends the wait.
#include <windows.h>

#include <cstdint>
#include <optional>

#include "platform/system_text.h"
#include "station/serial_file.h"

namespace {

using serial_file::Attempt;
using serial_file::failed;
using serial_file::stopped;
using serial_file::WaitEnd;

SerialTake failedWithLastError() { return failed(systemErrorText(GetLastError())); }

// Unlocks (when locked) and closes the file.
class LockedFile {
  public:
    LockedFile() = default;
    ~LockedFile() {
        if (locked_) {
            OVERLAPPED whole{};
            UnlockFileEx(handle_, 0, MAXDWORD, MAXDWORD, &whole);
        }
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    LockedFile(const LockedFile&) = delete;
    LockedFile& operator=(const LockedFile&) = delete;

    HANDLE get() const { return handle_; }

    // Opens the file, trying again for a while when another program holds it
    // without sharing. Nothing when it is open, else why no number can be taken.
    std::optional<SerialTake> open(const std::string& path, const std::atomic<bool>* stop) {
        const std::wstring wide = widePath(path);
        DWORD openError = ERROR_SUCCESS;
        const WaitEnd end = serial_file::retryWhileBusy(
            [&] {
                handle_ = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
                if (handle_ != INVALID_HANDLE_VALUE) return Attempt::Done;
                openError = GetLastError();
                return openError == ERROR_SHARING_VIOLATION || openError == ERROR_LOCK_VIOLATION
                           ? Attempt::Busy
                           : Attempt::Failed;
            },
            stop, serial_file::kSharingLimitMs);
        if (end == WaitEnd::Done) return std::nullopt;
        if (end == WaitEnd::Stopped) return stopped();
        return failed(systemErrorText(openError));
    }

    // Takes the exclusive lock over every byte the file can have. Nothing when
    // it is locked, else why no number can be taken.
    std::optional<SerialTake> lock(const std::atomic<bool>* stop, std::uint32_t limitMs) {
        DWORD lockError = ERROR_SUCCESS;
        const WaitEnd end = serial_file::retryWhileBusy(
            [&] {
                OVERLAPPED whole{};
                if (LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                               MAXDWORD, MAXDWORD, &whole)) {
                    locked_ = true;
                    return Attempt::Done;
                }
                lockError = GetLastError();
                return lockError == ERROR_LOCK_VIOLATION ? Attempt::Busy : Attempt::Failed;
            },
            stop, limitMs);
        return serial_file::lockWaitOutcome(end, limitMs, systemErrorText(lockError));
    }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool locked_ = false;
};

bool readText(HANDLE file, std::string& text) {
    char buffer[serial_file::kMaxTextBytes + 1];
    DWORD size = 0;
    while (size < sizeof buffer) {
        DWORD count = 0;
        if (!ReadFile(file, buffer + size, sizeof buffer - size, &count, nullptr)) return false;
        if (count == 0) break;
        size += count;
    }
    text.assign(buffer, size);
    return true;
}

bool writeText(HANDLE file, const std::string& text) {
    LARGE_INTEGER start{};
    DWORD written = 0;
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) ||
        !WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return false;
    }
    if (written != text.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return false;
    }
    return SetEndOfFile(file) && FlushFileBuffers(file);
}

}  // namespace

SerialTake useSerialFile(const std::string& path, std::uint64_t highest, bool advance,
                         const std::atomic<bool>* stop, std::uint32_t lockLimitMs) {
    LockedFile file;
    if (const auto refused = file.open(path, stop)) return *refused;
    if (const auto refused = file.lock(stop, lockLimitMs)) return *refused;

    std::string text;
    if (!readText(file.get(), text)) return failedWithLastError();
    std::string next;
    const SerialTake take = serial_file::numberFromText(text, highest, next);
    if (take.status != SerialStatus::Taken || !advance) return take;
    if (!writeText(file.get(), next)) return failedWithLastError();
    return take;  // the lock is released before the file closes
}
