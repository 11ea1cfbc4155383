// The three lines the info pane shows about an image file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/file_access.h"

struct FileNameParts {
    std::wstring baseName;
    std::wstring extension;  // with its dot; empty when the name has none
};

// Splits off the folders (and a drive) and divides the file name at its last dot.
FileNameParts splitFileName(const std::wstring& path);

// "file name : <base><ext>\n", "file size : <size>\n",
// "file date : YYYY.MM.DD hh:mm:ss\n". Names of any length are kept whole.
std::vector<std::wstring> fileInfoLines(const FileNameParts& name, std::int64_t size,
                                        const UtcTime& written);
