// The serial-number file of a production station: a text file holding the
// next serial number in decimal, shared by every station process that takes
// numbers from it. One implementation per system (serial_file_posix.cpp,
// serial_file_win32.cpp); the text rules and the waits below are shared
// (serial_file.cpp).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "station/serial_source.h"

// How long a station waits for another program's lock on the file.
constexpr std::uint32_t kSerialLockLimitMs = 10000;

// Uses the serial-number file `path`, a text file holding the next number in
// decimal: locks the file (waiting at most `lockLimitMs` for other processes,
// then Failed, and ending the wait once `stop` is set: Stopped), reads the
// number and, when `advance`, writes number + 1, syncs it to disk and unlocks.
// A number is therefore never given twice, across crashes and power loss, and
// a failed unit's number is not reused. Without `advance` (the start-up check)
// nothing is written. A number above `highest` is Exhausted and nothing is
// written. On Windows a file another program holds open without sharing is
// tried again for about a second before the take fails.
SerialTake useSerialFile(const std::string& path, std::uint64_t highest, bool advance,
                         const std::atomic<bool>* stop, std::uint32_t lockLimitMs);

// The serial-number file as a station's source of numbers.
class SerialFile final : public SerialSource {
  public:
    explicit SerialFile(std::string path, std::uint32_t lockLimitMs = kSerialLockLimitMs)
        : path_(std::move(path)), lockLimitMs_(lockLimitMs) {}
    std::string description() const override { return "the serial-number file " + path_; }
    SerialTake check(std::uint64_t highest) override {
        return useSerialFile(path_, highest, false, nullptr, lockLimitMs_);
    }
    SerialTake take(std::uint64_t highest, const std::atomic<bool>* stop) override {
        return useSerialFile(path_, highest, true, stop, lockLimitMs_);
    }

  private:
    std::string path_;
    std::uint32_t lockLimitMs_;
};

namespace serial_file {

// The longest text the file may hold: a number of 20 digits with blanks around it.
constexpr std::size_t kMaxTextBytes = 64;

// The pause between two tries at a busy file: short against a take, which
// holds the lock for a write and a sync, and light on the processor.
constexpr std::uint32_t kRetryPauseMs = 15;

// How long a file another program holds open without sharing (a spreadsheet,
// a sync client) is tried again before its opening fails.
constexpr std::uint32_t kSharingLimitMs = 1000;

// Reads the file's text: decimal digits with optional blanks (spaces, tabs,
// line ends) around them. `digits` is the count of digits, leading zeros included.
inline bool parseNumber(const std::string& text, std::uint64_t& number, std::size_t& digits) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    std::size_t at = 0;
    while (at < text.size() && blank(text[at])) ++at;
    number = 0;
    digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (number > (UINT64_MAX - digit) / 10) return false;
        number = number * 10 + digit;
    }
    while (at < text.size() && blank(text[at])) ++at;
    return digits > 0 && at == text.size();
}

// The text that replaces it: `number` zero-padded to the digits the file had,
// so that an operator's fixed width stays, and a line end.
inline std::string numberText(std::uint64_t number, std::size_t digits) {
    std::string text = std::to_string(number);
    if (text.size() < digits) text.insert(0, digits - text.size(), '0');
    return text + "\n";
}

// What the file's text gives: the number (Taken) and the text to write in its
// place, `next`; or Exhausted when the number is above `highest`; or Failed
// when the text is not a number. Nothing is written in either case.
SerialTake numberFromText(const std::string& text, std::uint64_t highest, std::string& next);

// One try at something another program may be holding: the file's opening or its lock.
enum class Attempt { Done, Busy, Failed };
enum class WaitEnd { Done, Failed, TimedOut, Stopped };

// Tries `attempt` every kRetryPauseMs while it is Busy, for `limitMs` at most,
// and ends at once (Stopped) when `stop` (which may be null) is set, also
// before the first try: a slot that is stopping takes no number.
WaitEnd retryWhileBusy(const std::function<Attempt()>& attempt, const std::atomic<bool>* stop,
                       std::uint32_t limitMs);

// The reason a take fails when the lock is still held after `limitMs`.
std::string lockedTooLongText(std::uint32_t limitMs);

// A take that failed for `error`, and one that the stop flag ended.
SerialTake failed(const std::string& error);
SerialTake stopped();

// What a wait for the lock came to: nothing once locked, else why no number
// can be taken (`failure`, the system's text, when the lock could not be tried).
std::optional<SerialTake> lockWaitOutcome(WaitEnd end, std::uint32_t limitMs,
                                          const std::string& failure);

}  // namespace serial_file
