// The serial-number file's rules that both systems share: what its text means,
// and how long a file or lock another program holds is waited for.
#include "station/serial_file.h"

#include <algorithm>

#include "platform/platform.h"

namespace serial_file {

SerialTake numberFromText(const std::string& text, std::uint64_t highest, std::string& next) {
    SerialTake take;
    std::size_t digits = 0;
    if (text.size() > kMaxTextBytes || !parseNumber(text, take.number, digits)) {
        take.status = SerialStatus::Failed;
        take.error = "not a decimal number";
        return take;
    }
    // The file must be able to hold the number after the one taken.
    const std::uint64_t last = std::min<std::uint64_t>(highest, UINT64_MAX - 1);
    if (take.number > last) {
        take.status = SerialStatus::Exhausted;
        take.error = "no serial number is left: the next, " + std::to_string(take.number) +
                     ", is above the highest the serial number's format holds, " +
                     std::to_string(last);
        return take;
    }
    take.status = SerialStatus::Taken;
    next = numberText(take.number + 1, digits);
    return take;
}

WaitEnd retryWhileBusy(const std::function<Attempt()>& attempt, const std::atomic<bool>* stop,
                       std::uint32_t limitMs) {
    const std::uint32_t start = tickCount();
    for (;;) {
        if (stop != nullptr && *stop) return WaitEnd::Stopped;
        switch (attempt()) {
            case Attempt::Done:
                return WaitEnd::Done;
            case Attempt::Failed:
                return WaitEnd::Failed;
            case Attempt::Busy:
                break;
        }
        const std::uint32_t waited = ticksSince(start);
        if (waited >= limitMs) return WaitEnd::TimedOut;
        sleepMilliseconds(std::min(kRetryPauseMs, limitMs - waited));
    }
}

std::string lockedTooLongText(std::uint32_t limitMs) {
    const std::string limit = limitMs % 1000 == 0 ? std::to_string(limitMs / 1000) + " s"
                                                  : std::to_string(limitMs) + " ms";
    return "the serial-number file has been locked by another program for more than " + limit;
}

SerialTake failed(const std::string& error) {
    SerialTake take;
    take.status = SerialStatus::Failed;
    take.error = error;
    return take;
}

SerialTake stopped() {
    SerialTake take;
    take.status = SerialStatus::Stopped;
    take.error = "stopped while waiting for the serial-number file";
    return take;
}

std::optional<SerialTake> lockWaitOutcome(WaitEnd end, std::uint32_t limitMs,
                                          const std::string& failure) {
    switch (end) {
        case WaitEnd::Done:
            return std::nullopt;
        case WaitEnd::Stopped:
            return stopped();
        case WaitEnd::TimedOut:
            return failed(lockedTooLongText(limitMs));
        case WaitEnd::Failed:
            break;
    }
    return failed(failure);
}

}  // namespace serial_file
