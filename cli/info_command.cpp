// quorvel-cli info: what answers on one port.
#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/exit_status.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"

int runInfoCommand(const std::string& port, bool json, std::atomic<bool>& stop) {
    const IdentifyResult result = identifyDevice(port, &stop);
    const int status = statusNumber(outcomeStatus(result.outcome));
    const std::string detail = failureDetail(result);
    if (status != kExitSuccess)
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", port.c_str(), detail.c_str());

    if (json) {
        using Json = nlohmann::ordered_json;
        const DeviceIdentity& identity = result.identity;
        char version[16];
        std::snprintf(version, sizeof version, "0x%08" PRIx32, identity.bootVersion);
        const Json document = {{"port", port},
                               {"ok", status == kExitSuccess},
                               {"device", describeDevice(identity)},
                               {"kind", identity.bootLoader()     ? Json("boot")
                                        : identity.hasVersionText ? Json("app")
                                                                  : Json()},
                               {"boot_version", identity.bootLoader() ? Json(version) : Json()},
                               {"version_text", identity.hasVersionText && !identity.bootLoader()
                                                    ? Json(identity.versionText)
                                                    : Json()},
                               {"message", result.message},
                               {"status", status},
                               {"detail", detail}};
        std::printf("%s\n", document.dump(2, ' ', false, Json::error_handler_t::replace).c_str());
    } else {
        std::printf("%s\n", describeDevice(result.identity).c_str());
    }
    return status;
}
