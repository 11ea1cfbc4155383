// What answered on a port, and how it reads.
#pragma once

#include <cstdint>
#include <string>

// The boot-loader version word that means "no boot loader answered".
constexpr std::uint32_t kNoBootLoader = 0xFFFFFFFFu;

struct DeviceIdentity {
    std::uint32_t bootVersion = kNoBootLoader;
    bool hasVersionText = false;
    std::string versionText;  // the application's text as sent, usually ending in CR LF

    bool bootLoader() const { return bootVersion != kNoBootLoader; }
    bool found() const { return bootLoader() || hasVersionText; }
};

// True when the application's text begins "bl-": such a device is detected
// again after a successful download.
bool redetectsAfterDownload(const DeviceIdentity& identity);

// "boot v%i.%i.%i.%i" from the low four bits of each byte, most significant first.
std::string bootLoaderLabel(std::uint32_t version);

// "boot v<a>.<b>.<c>.<d>" when a boot loader answered, else "app <text>"
// (without the text's line end), else "no device".
std::string describeDevice(const DeviceIdentity& identity);
