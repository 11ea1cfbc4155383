// Test doubles for the platform's tick count and debugger output.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

// Replaces the tick count while it lives. Each reading returns the current
// time and then advances it by `step`; after `jumpAfter` readings the time
// also leaps forward by `jump` once.
class ScriptedClock {
  public:
    ScriptedClock(std::uint32_t start, std::uint32_t step, std::uint32_t jumpAfter = 0,
                  std::uint32_t jump = 0) {
        now_ = start;
        step_ = step;
        jumpAfter_ = jumpAfter;
        jump_ = jump;
        readings_ = 0;
        setTickSource(&ScriptedClock::read);
    }
    ~ScriptedClock() { setTickSource(nullptr); }
    ScriptedClock(const ScriptedClock&) = delete;
    ScriptedClock& operator=(const ScriptedClock&) = delete;

    std::uint32_t now() const { return now_; }
    std::uint32_t readings() const { return readings_; }

  private:
    static std::uint32_t read() {
        const std::uint32_t reading = readings_.fetch_add(1) + 1;
        const std::uint32_t value = now_.fetch_add(step_);
        if (jumpAfter_ != 0 && reading == jumpAfter_) now_ += jump_;
        return value;
    }

    static inline std::atomic<std::uint32_t> now_{0};
    static inline std::atomic<std::uint32_t> readings_{0};
    static inline std::uint32_t step_ = 0;
    static inline std::uint32_t jumpAfter_ = 0;
    static inline std::uint32_t jump_ = 0;
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
