#include <windows.h>

#include "image/file_access.h"

bool readFileFacts(const std::wstring& path, FileFacts& facts) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;

    LARGE_INTEGER size;
    FILETIME written;
    SYSTEMTIME utc;
    const bool ok = GetFileSizeEx(file, &size) && GetFileTime(file, nullptr, nullptr, &written) &&
                    FileTimeToSystemTime(&written, &utc);
    CloseHandle(file);
    if (!ok) return false;

    facts.size = size.QuadPart;
    facts.lastWrite = {utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond};
    return true;
}

std::FILE* openImageFile(const std::wstring& path) { return _wfopen(path.c_str(), L"rb"); }

std::FILE* createOutputFile(const std::wstring& path) { return _wfopen(path.c_str(), L"wb"); }

std::int64_t seekToEnd(std::FILE* file) {
    if (_fseeki64(file, 0, SEEK_END) != 0) return -1;
    return _ftelli64(file);
}
