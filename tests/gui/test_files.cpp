#include "test_files.h"

#include <cwchar>
#include <vector>

unsigned char patternByte(DWORD index) {
    return static_cast<unsigned char>(index * 7 + (index >> 8));
}

TestFile makeTestFile(const std::wstring& folder, const std::wstring& name, DWORD size) {
    const std::wstring path = folder + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    std::vector<unsigned char> bytes(size);
    for (DWORD i = 0; i < size; ++i) bytes[i] = patternByte(i);
    DWORD written = 0;
    WriteFile(file, bytes.data(), size, &written, nullptr);
    CloseHandle(file);
    return {path, name};
}

std::wstring makeTestFolder(const std::wstring& prefix) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + prefix + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

std::wstring expectedInfo(const TestFile& file) {
    HANDLE handle = CreateFileW(file.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size{};
    FILETIME written{};
    SYSTEMTIME utc{};
    GetFileSizeEx(handle, &size);
    GetFileTime(handle, nullptr, nullptr, &written);
    CloseHandle(handle);
    FileTimeToSystemTime(&written, &utc);
    wchar_t lines[200];
    std::swprintf(lines, 200, L"file size : %lld\r\nfile date : %04d.%02d.%02d %02d:%02d:%02d\r\n",
                  static_cast<long long>(size.QuadPart), utc.wYear, utc.wMonth, utc.wDay, utc.wHour,
                  utc.wMinute, utc.wSecond);
    return L"file name : " + file.name + L"\r\n" + lines;
}
