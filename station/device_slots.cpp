#include "station/device_slots.h"

#include "flashing/flash_record.h"
#include "serial/port_listing.h"

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
    SlotFlash flashed;
    PortFacts facts;
    // Each attempt writes its own copy: the serial number goes into it alone.
    std::vector<std::unique_ptr<ImageBlock>> blocks = copyBlocks(image_.first());
    FlashEvents events;
    events.step = [&](FlashStep step) {
        if (step != FlashStep::Transferring) return;
        // The port is open now: a usb: name has just been resolved.
        facts = lookUpPort(port.name);
        const std::string warning = latencyWarning(facts.adapter);
        if (!warning.empty() && !port.latencyWarned) {
            port.latencyWarned = true;
            flashed.note = warning;
        }
        const TransferStart start = hooks.beforeTransfer();
        if (!start.go) {
            *stop = true;
            return;
        }
        std::string error;
        if (start.serial && serialLayout_ &&
            !stampSerial(blocks.front().get(), *serialLayout_, *start.serial, error)) {
            flashed.note = "serial " + std::to_string(*start.serial) + ": " + error;
            *stop = true;
        }
    };
    events.progress = [&hooks](std::int32_t sent, std::int32_t total) {
        if (total > 0 && hooks.progress) {
            hooks.progress(static_cast<int>(std::int64_t{sent} * 100 / total));
        }
    };
    flashed.result =
        flashDevice(port.name, blocks.front().get(), image_.downloadFlags, events, stop, pauses_);
    if (!facts.known) facts = lookUpPort(port.name);
    flashed.flash = flashRecordJson(port.name, facts, flashed.result);
    return flashed;
}
