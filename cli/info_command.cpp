// quorvel-cli info: what answers on one port.
#include <cinttypes>
#include <cstdio>
#include <memory>

#include "cli/command_line.h"
#include "cli/json_output.h"
#include "flashing/flash_job.h"
#include "flashing/messages.h"
#include "flashing/status.h"

namespace {

struct InfoOptions {
    std::string port;
    bool json = false;
};

int runInfoCommand(const std::string& port, bool json, std::atomic<bool>& stop) {
    const IdentifyResult result = identifyDevice(port, &stop);
    const int status = statusNumber(outcomeStatus(result.outcome));
    const std::string detail = jobDetailText(result);
    if (status != kStatusOk)
        std::fprintf(stderr, "quorvel-cli: %s: %s\n", port.c_str(), detail.c_str());

    if (json) {
        const DeviceIdentity& identity = result.identity;
        char version[16];
        std::snprintf(version, sizeof version, "0x%08" PRIx32, identity.bootVersion);
        printJson({{"port", port},
                   {"ok", status == kStatusOk},
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
                   {"detail", detail}});
    } else {
        std::printf("%s\n", describeDevice(result.identity).c_str());
    }
    return status;
}

}  // namespace

Subcommand addInfoCommand(CLI::App& app) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* info = app.add_subcommand("info", "Tell what answers on a port");
    addPortOption(*info, options->port);
    info->add_flag("--json", options->json, "Print one JSON document");
    return {info, [options](CommandSignals& signals) {
                if (const int status = checkPortName(options->port, options->json)) return status;
                return runInfoCommand(options->port, options->json, signals.interrupt);
            }};
}
