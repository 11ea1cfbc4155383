#include "flashing/device_identity.h"

#include <cstdio>

namespace {

constexpr char kRedetectPrefix[] = "bl-";

}  // namespace

bool redetectsAfterDownload(const DeviceIdentity& identity) {
    return identity.hasVersionText &&
           identity.versionText.compare(0, sizeof kRedetectPrefix - 1, kRedetectPrefix) == 0;
}

std::string bootLoaderLabel(std::uint32_t version) {
    char label[32];
    std::snprintf(label, sizeof label, "boot v%i.%i.%i.%i",
                  static_cast<int>((version >> 24) & 0x0F),
                  static_cast<int>((version >> 16) & 0x0F), static_cast<int>((version >> 8) & 0x0F),
                  static_cast<int>(version & 0x0F));
    return label;
}

std::string describeDevice(const DeviceIdentity& identity) {
    if (identity.bootLoader()) return bootLoaderLabel(identity.bootVersion);
    if (!identity.hasVersionText) return "no device";
    std::string text = identity.versionText;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return "app " + text;
}
