// The count of nested busy periods, shared by the user-interface thread (which
// reads it for every cursor request) and the download worker.
#pragma once

#include <atomic>
#include <cstdint>

class BusyCounter {
  public:
    // Returns true when this begins a busy period (the count was 0).
    bool begin() { return count_.fetch_add(1) == 0; }

    // Returns true when this ends the last busy period. At 0 nothing changes.
    bool end() {
        std::int32_t current = count_.load();
        while (current > 0) {
            if (count_.compare_exchange_weak(current, current - 1)) return current == 1;
        }
        return false;
    }

    std::int32_t value() const { return count_.load(); }

  private:
    std::atomic<std::int32_t> count_{0};
};
