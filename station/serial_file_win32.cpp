// Windows: an exclusive byte-range lock (LockFileEx, which waits) over the
// whole file orders the station processes; the number is rewritten in place
// and flushed before the lock is released.
#include <windows.h>

#include <cstdint>

#include "platform/system_text.h"
#include "station/serial_file.h"

namespace {

bool failed(std::string& error) {
    error = systemErrorText(GetLastError());
    return false;
}

// Unlocks (when locked) and closes the file.
class LockedFile {
  public:
    explicit LockedFile(HANDLE handle) : handle_(handle) {}
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
    bool lock() {
        OVERLAPPED whole{};  // offset 0, and every byte the file can have
        locked_ = LockFileEx(handle_, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole) != 0;
        return locked_;
    }

  private:
    HANDLE handle_;
    bool locked_ = false;
};

bool rewind(HANDLE file) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

// The number taken, or why not; `stop` and `lockLimitMs` are not waited on yet.
bool takeNumber(const std::string& path, std::uint64_t highest, bool advance, std::uint64_t& number,
                std::string& error, bool& exhausted) {
    LockedFile file(CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE || !file.lock()) return failed(error);

    char buffer[serial_file::kMaxTextBytes + 1];
    DWORD size = 0;
    while (size < sizeof buffer) {
        DWORD count = 0;
        if (!ReadFile(file.get(), buffer + size, sizeof buffer - size, &count, nullptr)) {
            return failed(error);
        }
        if (count == 0) break;
        size += count;
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
    DWORD written = 0;
    if (!rewind(file.get()) ||
        !WriteFile(file.get(), next.data(), static_cast<DWORD>(next.size()), &written, nullptr)) {
        return failed(error);
    }
    if (written != next.size()) {
        SetLastError(ERROR_WRITE_FAULT);
        return failed(error);
    }
    if (!SetEndOfFile(file.get()) || !FlushFileBuffers(file.get())) return failed(error);
    return true;  // the lock is released before the file closes
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
