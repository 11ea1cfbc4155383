// The slots' real ports and boards: a presence probe per port, and the whole
// flashing job with the unit's serial number written into its own copy of
// the image.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "flashing/flash_request.h"
#include "flashing/presence_probe.h"
#include "image/code_image.h"
#include "image/serial_stamp.h"
#include "station/station_engine.h"

class DeviceSlots final : public SlotHardware {
  public:
    // `image` must outlive the slots.
    DeviceSlots(const std::vector<std::string>& ports, const CodeImage& image,
                std::optional<SerialLayout> serialLayout, FlashPauses pauses);

    Presence probe(std::size_t slot, std::uint32_t replyLimitMs) override;
    void release(std::size_t slot) override;
    SlotFlash flash(std::size_t slot, const SlotFlashHooks& hooks,
                    std::atomic<bool>* stop) override;

  private:
    struct Port {
        std::string name;
        std::unique_ptr<PresenceProbe> probe;
        bool latencyWarned = false;
    };

    const CodeImage& image_;
    const std::optional<SerialLayout> serialLayout_;
    const FlashPauses pauses_;
    std::vector<Port> ports_;
};
