// An in-memory stand-in for the port backend, built instead of the real one
// for fuzzing: reads take bytes from a stream handed in, in short runs of
// varying length as a driver would give them, and fail like a hung-up line
// once the stream is used up; writes are accepted and counted.
#pragma once

#include <cstddef>
#include <cstdint>

// The bytes the device "sends" from now on; the memory must outlive the reads.
void feedMemoryPort(const std::uint8_t* bytes, std::size_t count);
// Bytes taken by reads and written to any port since the last feed.
std::size_t memoryPortBytesRead();
std::size_t memoryPortBytesWritten();
