#include "tools/devsim/line_pacer.h"

#include <algorithm>
#include <chrono>

namespace devsim {

Nanos monotonicNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LinePacer::LinePacer(std::uint32_t baud, std::uint32_t latencyMs)
    : byteTime_(baud == 0 ? 0 : 10'000'000'000LL / baud),
      latency_(static_cast<Nanos>(latencyMs) * 1'000'000) {}

void LinePacer::received(const std::uint8_t* bytes, std::size_t count, Nanos now) {
    for (std::size_t i = 0; i < count; ++i) {
        inputClock_ = std::max(inputClock_, now) + byteTime_;
        input_.push_back({bytes[i], byteTime_ == 0 ? now : inputClock_});
    }
}

void LinePacer::takeArrived(Nanos now, std::vector<std::uint8_t>& out) {
    while (!input_.empty() && input_.front().due <= now) {
        out.push_back(input_.front().byte);
        input_.pop_front();
    }
}

void LinePacer::send(const std::vector<std::uint8_t>& bytes, Nanos now) {
    if (bytes.empty()) return;
    // Replies leave in order: a later reply never overtakes an earlier one.
    Nanos notBefore = now + latency_;
    if (!output_.empty()) notBefore = std::max(notBefore, output_.back().notBefore);
    output_.push_back({bytes, 0, notBefore});
}

void LinePacer::takeDue(Nanos now, std::vector<std::uint8_t>& out) {
    while (!output_.empty()) {
        Reply& reply = output_.front();
        if (reply.notBefore > now) return;
        if (byteTime_ == 0) {
            out.insert(out.end(), reply.bytes.begin() + static_cast<long>(reply.released),
                       reply.bytes.end());
            output_.pop_front();
            continue;
        }
        while (reply.released < reply.bytes.size()) {
            const Nanos done = std::max(reply.notBefore, outputClock_) + byteTime_;
            if (done > now) return;
            out.push_back(reply.bytes[reply.released++]);
            outputClock_ = done;
        }
        output_.pop_front();
    }
}

Nanos LinePacer::nextWake() const {
    Nanos wake = kNever;
    if (!input_.empty()) wake = input_.front().due;
    if (!output_.empty()) {
        const Reply& reply = output_.front();
        wake = std::min(wake, byteTime_ == 0 ? reply.notBefore
                                             : std::max(reply.notBefore, outputClock_) + byteTime_);
    }
    return wake;
}

void LinePacer::clear() {
    input_.clear();
    output_.clear();
}

}  // namespace devsim
