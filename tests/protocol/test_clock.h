// Test doubles for the platform's tick count and debugger output.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

// Replaces the tick count while it lives. Each reading returns the current
// time and then advances it by `step`; advance() moves it on at any moment.
class ScriptedClock {
  public:
    ScriptedClock(std::uint32_t start, std::uint32_t step) {
        now_ = start;
        step_ = step;
        setTickSource(&ScriptedClock::read);
    }
    ~ScriptedClock() { setTickSource(nullptr); }
    ScriptedClock(const ScriptedClock&) = delete;
    ScriptedClock& operator=(const ScriptedClock&) = delete;

    std::uint32_t now() const { return now_; }
    static void advance(std::uint32_t milliseconds) { now_ += milliseconds; }

  private:
    static std::uint32_t read() { return now_.fetch_add(step_); }

    static inline std::atomic<std::uint32_t> now_{0};
    static inline std::atomic<std::uint32_t> step_{0};
};

// Makes the tick count run `factor` times faster than real time while it
// lives, so that long limits pass in a fraction of the time.
class FastClock {
  public:
    explicit FastClock(std::uint32_t factor) {
        base_ = tickCount();
        origin_ = std::chrono::steady_clock::now();
        factor_ = factor;
        setTickSource(&FastClock::read);
    }
    ~FastClock() { setTickSource(nullptr); }
    FastClock(const FastClock&) = delete;
    FastClock& operator=(const FastClock&) = delete;

  private:
    static std::uint32_t read() {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - origin_);
        return base_ + static_cast<std::uint32_t>(elapsed.count()) * factor_;
    }

    static inline std::uint32_t base_ = 0;
    static inline std::chrono::steady_clock::time_point origin_;
    static inline std::uint32_t factor_ = 1;
};

// Shifts the tick count by a fixed offset while it lives; it still runs in
// real time, so waits keep blocking in the operating system.
class OffsetClock {
  public:
    explicit OffsetClock(std::uint32_t startAt) {
        offset_ = startAt - steadyMilliseconds();
        setTickSource(&OffsetClock::read, true);
    }
    ~OffsetClock() { setTickSource(nullptr); }
    OffsetClock(const OffsetClock&) = delete;
    OffsetClock& operator=(const OffsetClock&) = delete;

  private:
    static std::uint32_t steadyMilliseconds() {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }
    static std::uint32_t read() { return steadyMilliseconds() + offset_; }
    static inline std::atomic<std::uint32_t> offset_{0};
};

// Collects the debugger output lines while it lives.
class DebugCapture {
  public:
    DebugCapture() { setDebugOutputHook(&DebugCapture::collect, this); }
    ~DebugCapture() { setDebugOutputHook(nullptr, nullptr); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::wstring> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    static void collect(const std::wstring& text, void* context) {
        auto* self = static_cast<DebugCapture*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->lines_.push_back(text);
    }

    mutable std::mutex mutex_;
    std::vector<std::wstring> lines_;
};
