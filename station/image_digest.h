// The image file's own digest, for a station's records: the SHA-256 of the
// file's bytes as `sha256sum` prints it, so that a record names the very file
// on the server, whatever the image's blocks came to.
#pragma once

#include <string>

// The SHA-256 of the file at `path` (UTF-8) as 64 lower-case hex digits. False
// with the system's text when the file cannot be read.
bool fileSha256(const std::string& path, std::string& hex, std::string& error);
