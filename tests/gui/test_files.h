// Image files for the GUI tests, and the info lines the dialog should show for them.
#pragma once

#include <windows.h>

#include <string>

struct TestFile {
    std::wstring path;
    std::wstring name;  // file name with extension
};

// A file of `size` bytes with a position-dependent pattern, in `folder` (ends in '\').
TestFile makeTestFile(const std::wstring& folder, const std::wstring& name, DWORD size);

// A fresh folder under the temporary folder, named after the process.
std::wstring makeTestFolder(const std::wstring& prefix);

unsigned char patternByte(DWORD index);

// The info pane's three lines for the file, with CR LF, date in UTC.
std::wstring expectedInfo(const TestFile& file);
