#include "station/device_slots.h"

#include "flashing/flash_record.h"

DeviceSlots::DeviceSlots(const std::vector<std::string>& ports, const CodeImage& image,
                         std::optional<SerialLayout> serialLayout, FlashPauses pauses)
    : image_(image), serialLayout_(serialLayout), pauses_(pauses) {
    for (const std::string& name : ports) {
        ports_.push_back({name, std::make_unique<PresenceProbe>(name, nullptr), false});
    }
}

Presence DeviceSlots::probe(std::size_t slot, std::uint32_t replyLimitMs) {
    return ports_[slot].probe->probe(replyLimitMs);
}

void DeviceSlots::release(std::size_t slot) { ports_[slot].probe->release(); }

SlotFlash DeviceSlots::flash(std::size_t slot, const SlotFlashHooks& hooks,
                             std::atomic<bool>* stop) {
    Port& port = ports_[slot];
    FlashRequest request;
    request.port = port.name;
    request.firstBlock = image_.first();
    request.downloadFlags = image_.downloadFlags;
    request.pauses = pauses_;
    // Each attempt writes its own copy: the serial number goes into it alone.
    request.serialLayout = serialLayout_;
    request.beforeTransfer = hooks.beforeTransfer;
    FlashEvents events;
    events.progress = [&hooks](std::int32_t sent, std::int32_t total) {
        if (total > 0 && hooks.progress) {
            hooks.progress(static_cast<int>(std::int64_t{sent} * 100 / total));
        }
    };
    const FlashRecord record = flashPort(request, events, stop);
    SlotFlash flashed;
    // The slow adapter is said once per port; a serial number not written, every time.
    if (!record.latencyWarning.empty() && !port.latencyWarned) {
        port.latencyWarned = true;
        flashed.note = record.latencyWarning;
    }
    if (!record.serialError.empty()) flashed.note = record.serialError;
    flashed.result = record.result;
    flashed.flash = flashRecordJson(record);
    return flashed;
}
