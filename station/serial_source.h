// Where a station's serial numbers come from: a number is taken for a unit
// just before its transfer, and never given twice. The file beside the
// station is one source (serial_file.h), a pool in the line's database
// another (serial_pool.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

enum class SerialStatus {
    Taken,      // `number` is the unit's
    Exhausted,  // the next number is above the highest allowed: nothing was taken
    Failed,     // the source cannot be used (`error` says why): nothing was taken
    Stopped,    // the stop flag ended the wait: nothing was taken
};

struct SerialTake {
    SerialStatus status = SerialStatus::Failed;
    std::uint64_t number = 0;
    std::string error;
};

class SerialSource {
  public:
    virtual ~SerialSource() = default;
    // What it is, for messages: "the serial-number file serial.txt".
    virtual std::string description() const = 0;
    // At start-up, before any board: the source can be used and its next
    // number is at most `highest`. Nothing is taken.
    virtual SerialTake check(std::uint64_t highest) = 0;
    // Takes the next number when it is at most `highest`. Waits for other
    // stations a bounded time (Failed after it), and ends early (Stopped)
    // once `stop` is set.
    virtual SerialTake take(std::uint64_t highest, const std::atomic<bool>* stop) = 0;
    // The station has ended: what is held and not used is given back.
    virtual void finish() {}
};
