// An in-memory stand-in for the port backend, built instead of the real one
// for fuzzing and for tests that play a device in the process. Reads take
// bytes from a stream handed in, in short runs of varying length as a driver
// would give them, and fail like a hung-up line once the stream is used up;
// writes are accepted and counted. Or a MemoryDevice answers what is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

// The bytes the device "sends" from now on; the memory must outlive the reads.
void feedMemoryPort(const std::uint8_t* bytes, std::size_t count);
// Bytes taken by reads and written to any port since the last feed.
std::size_t memoryPortBytesRead();
std::size_t memoryPortBytesWritten();

// A device played in place of the stream: told what each write carries, it
// queues its answers in `replies`. Reads take them and find nothing while
// none are queued, as on a quiet line.
class MemoryDevice {
  public:
    virtual ~MemoryDevice() = default;
    virtual void written(const std::uint8_t* bytes, std::size_t count) = 0;

    std::deque<std::uint8_t> replies;
    bool hungUp = false;  // reads and writes fail with EIO, as on a line that hung up
};

// Every port talks to `device` from now on; nullptr goes back to the stream.
void playMemoryDevice(MemoryDevice* device);
// Opens fail with `error` (ENOENT: absent, EBUSY: held) while it is not 0.
void failMemoryPortOpens(int error);
