// The station's record log: JSON Lines appended by one or more processes,
// each record synced to disk before its result is shown, so that a crash or a
// power loss never loses a result that was reported. One implementation per
// system (record_log_posix.cpp, record_log_win32.cpp).
#pragma once

#include <cstdint>
#include <string>

// A log of JSON Lines that is appended to, each record in one write and
// synced to disk before append() returns, so a result shown is always on disk.
class RecordLog {
  public:
    RecordLog() = default;
    RecordLog(const RecordLog&) = delete;
    RecordLog& operator=(const RecordLog&) = delete;

    // Opens (creating it if needed) for appending; false with the OS error and its text.
    bool open(const std::string& path, int& osError, std::string& error);
    // Writes `line` + "\n" in one write and syncs it. False with the OS error
    // (disk full, no permission) when the record is not safely on disk.
    bool append(const std::string& line, int& osError, std::string& error);
    ~RecordLog();

  private:
    // A descriptor (POSIX) or a handle (Windows); -1 when closed.
    std::intptr_t file_ = -1;
    // A failed append left part of its record: the next one starts on a line of its own.
    bool torn_ = false;
};

// Reads the whole log; a log that does not exist yet reads as empty. False
// with the system's text when it cannot be read.
bool readLogText(const std::string& path, std::string& content, std::string& error);
