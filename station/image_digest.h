// The digest of an image file as it lies on disk, for the records.
#pragma once

#include <string>

// The SHA-256 of the file's bytes in lower-case hex, as sha256sum prints it.
bool fileSha256(const std::string& path, std::string& hex, std::string& error);
