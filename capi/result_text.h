// What a status and a transfer result code mean, for a person.
#pragma once

#include <string>

// The status's text when `code` is 0 or means nothing under it; else what the
// code means under that status, since a port's OS error can show as the same
// number as a device's refusal. "unknown status N" for a status no front end gives.
std::string statusCodeText(int status, int code);
