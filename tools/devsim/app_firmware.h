// The device's application firmware: a line-based ASCII console. A command
// starts with '~' and ends with CR LF; everything outside a command (binary
// packets meant for the boot loader, noise) is ignored without a reply.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "tools/devsim/device_context.h"

namespace devsim {

class AppFirmware {
  public:
    static constexpr std::size_t kMaxLine = 256;

    AppFirmware(std::string versionText, DeviceContext context);

    // Returns true when a boot switch was accepted: the reply is already
    // queued and the caller restarts the device into its boot loader.
    bool feed(const std::uint8_t* bytes, std::size_t count);
    void restart();
    // The version text of another board's firmware.
    void setVersionText(std::string versionText) { versionText_ = std::move(versionText); }

  private:
    bool handleLine();

    std::string versionText_;
    DeviceContext context_;
    std::string line_;
    bool collecting_ = false;
};

}  // namespace devsim
