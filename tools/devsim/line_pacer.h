// Timing of the serial line in both directions. At a baud rate of N (8N1, ten
// bit times per byte) a byte takes 10/N seconds: received bytes become
// available to the device only once they would have crossed the wire, and the
// device's own bytes are released at that rate. Each reply also waits a fixed
// latency first. With baud 0 the line is unpaced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <limits>
#include <vector>

namespace devsim {

using Nanos = std::int64_t;
constexpr Nanos kNever = std::numeric_limits<Nanos>::max();

Nanos monotonicNanos();

class LinePacer {
  public:
    LinePacer(std::uint32_t baud, std::uint32_t latencyMs);

    // Bytes that reached the device's end of the line at `now`.
    void received(const std::uint8_t* bytes, std::size_t count, Nanos now);
    // Moves the received bytes whose wire time has passed to `out`.
    void takeArrived(Nanos now, std::vector<std::uint8_t>& out);
    std::size_t pendingInput() const { return input_.size(); }

    // Queues a reply of the device; it starts after the latency.
    void send(const std::vector<std::uint8_t>& bytes, Nanos now);
    // Appends the reply bytes due by `now` to `out`.
    void takeDue(Nanos now, std::vector<std::uint8_t>& out);
    bool outputEmpty() const { return output_.empty(); }

    // The earliest future moment at which a byte becomes due in either direction.
    Nanos nextWake() const;
    void clear();

  private:
    struct TimedByte {
        std::uint8_t byte;
        Nanos due;
    };
    struct Reply {
        std::vector<std::uint8_t> bytes;
        std::size_t released;
        Nanos notBefore;
    };

    Nanos byteTime_;
    Nanos latency_;
    std::deque<TimedByte> input_;
    Nanos inputClock_ = 0;  // when the line towards the device is free again
    std::deque<Reply> output_;
    Nanos outputClock_ = 0;  // when the line from the device is free again
};

}  // namespace devsim
