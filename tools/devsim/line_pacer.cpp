#include "tools/devsim/line_pacer.h"

#include <algorithm>
#include <chrono>

namespace devsim {

Nanos monotonicNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

LinePacer::LinePacer(std::uint32_t baud, std::uint32_t latencyMs, std::uint32_t adapterLatencyMs)
    : byteTime_(baud == 0 ? 0 : 10'000'000'000LL / baud),
      latency_(static_cast<Nanos>(latencyMs) * 1'000'000),
      adapterLatency_(static_cast<Nanos>(adapterLatencyMs) * 1'000'000) {}

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
    if (adapterLatency_ == 0) {
        takeFromLine(now, out, nullptr);
        return;
    }
    // Byte by byte through the adapter's buffer at the moment each crossed
    // the line: a burst that fills up goes at once, and a byte that comes
    // after a burst's deadline starts the next burst.
    std::vector<std::uint8_t> crossed;
    std::vector<Nanos> times;
    takeFromLine(now, crossed, &times);
    for (std::size_t i = 0; i < crossed.size(); ++i) {
        if (burstDue() <= times[i]) releaseBurst(out);
        if (adapter_.empty()) burstStart_ = times[i];
        adapter_.push_back(crossed[i]);
        if (adapter_.size() >= kAdapterBurstBytes) releaseBurst(out);
    }
    if (burstDue() <= now) releaseBurst(out);
}

Nanos LinePacer::burstDue() const {
    return adapter_.empty() ? kNever : burstStart_ + adapterLatency_;
}

void LinePacer::releaseBurst(std::vector<std::uint8_t>& out) {
    out.insert(out.end(), adapter_.begin(), adapter_.end());
    adapter_.clear();
}

void LinePacer::takeFromLine(Nanos now, std::vector<std::uint8_t>& out, std::vector<Nanos>* times) {
    while (!output_.empty()) {
        Reply& reply = output_.front();
        if (reply.notBefore > now) return;
        if (byteTime_ == 0) {
            out.insert(out.end(), reply.bytes.begin() + static_cast<long>(reply.released),
                       reply.bytes.end());
            if (times != nullptr) times->resize(out.size(), reply.notBefore);
            output_.pop_front();
            continue;
        }
        while (reply.released < reply.bytes.size()) {
            const Nanos done = std::max(reply.notBefore, outputClock_) + byteTime_;
            if (done > now) return;
            out.push_back(reply.bytes[reply.released++]);
            if (times != nullptr) times->push_back(done);
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
    return std::min(wake, burstDue());
}

void LinePacer::clear() {
    input_.clear();
    output_.clear();
    adapter_.clear();
}

}  // namespace devsim
