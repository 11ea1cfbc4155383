// The station's record log: JSON Lines appended by one or more processes,
// each record synced to disk before its result is shown, so that a crash or a
// power loss never loses a result that was reported. One implementation per
// system (record_log_posix.cpp, record_log_win32.cpp); reading a log back is
// shared (record_log_common.cpp).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

// A log of JSON Lines that is appended to, each record in one write and
// synced to disk before append() returns, so a result shown is always on disk.
// The slots of one station append from threads of their own.
class RecordLog {
  public:
    RecordLog() = default;
    RecordLog(const RecordLog&) = delete;
    RecordLog& operator=(const RecordLog&) = delete;

    // Opens (creating it if needed) for appending; false with the OS error and
    // its text. A file whose last line has no line end (a crash, a full disk
    // or a power cut in the middle of a record) keeps that fragment as a line
    // of its own: the first record appended starts on a new line.
    bool open(const std::string& path, int& osError, std::string& error);
    // Writes `line` + "\n" in one write and syncs it. False with the OS error
    // (disk full, no permission) when the record is not safely on disk. Safe
    // to call from several threads.
    bool append(const std::string& line, int& osError, std::string& error);
    ~RecordLog();

  private:
    std::mutex mutex_;  // guards what follows
    // A descriptor (POSIX) or a handle (Windows); -1 when closed.
    std::intptr_t file_ = -1;
    // The file ends inside a line (a failed append left part of its record, or
    // the file was found so): the next record starts on a line of its own.
    bool torn_ = false;
};

// Reads a whole log, as a restarted station and `report` do: `content` is the
// file's bytes; a file that does not exist reads as empty. False with the
// system's text when it cannot be read. Paths are UTF-8 on every system.
bool readLogText(const std::string& path, std::string& content, std::string& error);
