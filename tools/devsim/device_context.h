// What the two simulated programs of the device share: the transcript, the
// injected faults and the way out to the line.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "tools/devsim/faults.h"
#include "tools/devsim/transcript.h"

namespace devsim {

struct DeviceContext {
    Transcript& transcript;
    FaultSet& faults;
    std::function<void(const std::vector<std::uint8_t>&)> send;
};

}  // namespace devsim
