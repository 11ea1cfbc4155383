// Windows: a handle opened with FILE_APPEND_DATA alone writes each WriteFile
// whole at the end of the file, also beside other processes appending to it;
// FlushFileBuffers puts it on disk.
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

}  // namespace

bool RecordLog::open(const std::string& path, int& osError, std::string& error) {
    if (file_ != -1) CloseHandle(handleOf(file_));
    torn_ = false;
    HANDLE file = CreateFileW(widePath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    file_ = reinterpret_cast<std::intptr_t>(file);
    if (file == INVALID_HANDLE_VALUE) return failed(GetLastError(), osError, error);
    return true;
}

bool RecordLog::append(const std::string& line, int& osError, std::string& error) {
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
