// Texts the operating system gives: the machine's name, the time in UTC, an
// error code's message, and a UTF-8 path as the wide path the file calls take.
// One implementation per system (system_text_posix.cpp, system_text_win32.cpp).
#pragma once

#include <string>

// The machine's name, for a station's records.
std::string hostName();

// The time now in UTC, ISO 8601 with milliseconds: "2026-12-07T17:25:26.123Z".
std::string utcTimestamp();

// The system's text for an error code (errno, or GetLastError on Windows).
std::string systemErrorText(unsigned long code);

// UTF-8 text or a UTF-8 path as wide text: UTF-16 on Windows. POSIX file
// names are bytes, not always UTF-8: a byte outside valid UTF-8 becomes
// U+DC00 + byte, which the POSIX file access turns back into that byte, so
// that every name opens.
std::wstring widePath(const std::string& utf8);

// UTF-16 (Windows) or widePath's wide text (POSIX) as UTF-8; the inverse of widePath.
std::string utf8FromWide(const std::wstring& wide);
