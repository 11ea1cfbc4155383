// The file operations that differ between Windows and POSIX: examining an image
// file with no sharing allowed, and opening it for reading alongside others.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A calendar time in UTC.
struct UtcTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

struct FileFacts {
    std::int64_t size = 0;
    UtcTime lastWrite;
};

// Opens an existing file for reading with no sharing (so it fails while another
// program holds the file open), takes its full size and last-write time.
bool readFileFacts(const std::wstring& path, FileFacts& facts);

// Opens a file for binary reading, other readers and writers allowed. Null on failure.
std::FILE* openImageFile(const std::wstring& path);

// Creates (or empties) a file for binary writing. Null on failure.
std::FILE* createOutputFile(const std::wstring& path);

// Seeks to the end and returns the position there, the file's full size, or -1.
std::int64_t seekToEnd(std::FILE* file);
