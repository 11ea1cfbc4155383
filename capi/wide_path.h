// A path given to the C API as the image loader's wide path.
#pragma once

#include <string>

// POSIX: the file name's bytes, whatever their encoding. Windows: UTF-8.
std::wstring widePath(const char* path);
