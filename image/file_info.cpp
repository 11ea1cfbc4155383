#include "image/file_info.h"

#include <cwchar>
#include <iterator>

FileNameParts splitFileName(const std::wstring& path) {
    std::size_t nameStart = 0;
    if (path.size() >= 2 && path[1] == L':') nameStart = 2;  // drive letter
    const std::size_t lastSeparator = path.find_last_of(L"\\/");
    if (lastSeparator != std::wstring::npos && lastSeparator + 1 > nameStart) {
        nameStart = lastSeparator + 1;
    }
    const std::wstring name = path.substr(nameStart);
    const std::size_t dot = name.rfind(L'.');
    if (dot == std::wstring::npos) return {name, L""};
    return {name.substr(0, dot), name.substr(dot)};
}

std::vector<std::wstring> fileInfoLines(const FileNameParts& name, std::int64_t size,
                                        const UtcTime& written) {
    wchar_t sizeText[40];
    std::swprintf(sizeText, std::size(sizeText), L"file size : %lld\n",
                  static_cast<long long>(size));
    wchar_t dateText[64];
    std::swprintf(dateText, std::size(dateText), L"file date : %04d.%02d.%02d %02d:%02d:%02d\n",
                  written.year, written.month, written.day, written.hour, written.minute,
                  written.second);
    return {L"file name : " + name.baseName + name.extension + L"\n", sizeText, dateText};
}
