// Windows: a handle opened with FILE_APPEND_DATA alone writes each WriteFile
// whole at the end of the file, also beside other processes appending to it;
// FlushFileBuffers puts it on disk. The log is shared for reading and writing,
// not for deletion: it cannot be deleted or renamed while a station has it open.
#include <windows.h>

#include "platform/system_text.h"
#include "station/record_log.h"

namespace {

bool failed(DWORD code, int& osError, std::string& error) {
    osError = static_cast<int>(code);
    error = systemErrorText(code);
    return false;
}

HANDLE handleOf(std::intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// True when the file at `path` is not empty and its last byte is not a line
// end. Read through a handle of its own: the appending handle stays one with
// FILE_APPEND_DATA alone. A file that cannot be read is taken as whole.
bool endsInsideALine(const std::wstring& path) {
    HANDLE reader = CreateFileW(path.c_str(), FILE_READ_DATA | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    char last = '\n';
    DWORD count = 0;
    if (GetFileType(reader) == FILE_TYPE_DISK && GetFileSizeEx(reader, &size) &&
        size.QuadPart > 0) {
        OVERLAPPED at{};
        const ULONGLONG offset = static_cast<ULONGLONG>(size.QuadPart) - 1;
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        if (!ReadFile(reader, &last, 1, &count, &at)) count = 0;
    }
    CloseHandle(reader);
    return count == 1 && last != '\n';
}

}  // namespace

bool RecordLog::open(const std::string& path, int& osError, std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_ != -1) CloseHandle(handleOf(file_));
    const std::wstring wide = widePath(path);
    HANDLE file = CreateFileW(wide.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    file_ = reinterpret_cast<std::intptr_t>(file);  // INVALID_HANDLE_VALUE is -1
    if (file == INVALID_HANDLE_VALUE) return failed(GetLastError(), osError, error);
    torn_ = endsInsideALine(wide);
    return true;
}

bool RecordLog::append(const std::string& line, int& osError, std::string& error) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == -1) return failed(ERROR_INVALID_HANDLE, osError, error);
    const std::string record = (torn_ ? "\n" : "") + line + "\n";
    DWORD written = 0;
    if (!WriteFile(handleOf(file_), record.data(), static_cast<DWORD>(record.size()), &written,
                   nullptr)) {
        const DWORD code = GetLastError();
        torn_ = torn_ || written > 0;
        return failed(code, osError, error);
    }
    if (written != record.size()) {
        torn_ = true;
        return failed(ERROR_DISK_FULL, osError, error);
    }
    torn_ = false;
    if (!FlushFileBuffers(handleOf(file_))) return failed(GetLastError(), osError, error);
    return true;
}

RecordLog::~RecordLog() {
    if (file_ != -1) CloseHandle(handleOf(file_));
}
