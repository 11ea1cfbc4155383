// Timing of the serial line in both directions. At a baud rate of N (8N1, ten
// bit times per byte) a byte takes 10/N seconds: received bytes become
// available to the device only once they would have crossed the wire, and the
// device's own bytes are released at that rate. Each reply also waits a fixed
// latency first. With baud 0 the line is unpaced.
//
// An adapter latency plays the USB adapter between the line and the host: the
// bytes that crossed the line gather in its buffer, and a burst goes to the
// host when kAdapterBurstBytes have gathered or the latency has passed since
// the burst's first byte, as an FTDI chip's latency timer does.
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

// What an FTDI chip sends in one USB packet: 64 bytes less two status bytes.
constexpr std::size_t kAdapterBurstBytes = 62;

class LinePacer {
  public:
    LinePacer(std::uint32_t baud, std::uint32_t latencyMs, std::uint32_t adapterLatencyMs = 0);

    // Bytes that reached the device's end of the line at `now`.
    void received(const std::uint8_t* bytes, std::size_t count, Nanos now);
    // Moves the received bytes whose wire time has passed to `out`.
    void takeArrived(Nanos now, std::vector<std::uint8_t>& out);
    std::size_t pendingInput() const { return input_.size(); }

    // Queues a reply of the device; it starts after the latency.
    void send(const std::vector<std::uint8_t>& bytes, Nanos now);
    // Appends the reply bytes due at the host by `now` to `out`.
    void takeDue(Nanos now, std::vector<std::uint8_t>& out);
    bool outputEmpty() const { return output_.empty() && adapter_.empty(); }

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

    // Moves the reply bytes that have crossed the line by `now` to `out`, and
    // when each crossed to `times` unless it is nullptr.
    void takeFromLine(Nanos now, std::vector<std::uint8_t>& out, std::vector<Nanos>* times);
    // The moment the adapter's current burst goes, kNever while it is empty.
    Nanos burstDue() const;
    void releaseBurst(std::vector<std::uint8_t>& out);

    Nanos byteTime_;
    Nanos latency_;
    Nanos adapterLatency_;
    std::vector<std::uint8_t> adapter_;  // bytes held in the adapter's buffer
    Nanos burstStart_ = 0;               // when the first of them arrived there
    std::deque<TimedByte> input_;
    Nanos inputClock_ = 0;  // when the line towards the device is free again
    std::deque<Reply> output_;
    Nanos outputClock_ = 0;  // when the line from the device is free again
};

}  // namespace devsim
