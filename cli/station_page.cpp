#include "cli/station_page.h"

#include <cstdio>

#include "flashing/status.h"
#include "web/listen_address.h"

int openStationPage(const std::string& http, std::unique_ptr<StationServer>& server) {
    if (http.empty()) return kStatusOk;
    ListenAddress address;
    std::string error;
    if (!parseListenAddress(http, address, error)) {
        std::fprintf(stderr, "quorvel-cli: --http: %s\n", error.c_str());
        return kStatusWrongRequest;
    }
    auto opened = std::make_unique<StationServer>(address);
    if (!opened->open(error)) {
        std::fprintf(stderr, "quorvel-cli: --http: %s\n", error.c_str());
        return kStatusWrongRequest;
    }
    if (!opened->loopback()) {
        std::fprintf(stderr,
                     "quorvel-cli: WARNING: the station page is served beyond this machine: "
                     "anyone who reaches %s can read the station's state, ports, image and "
                     "serial numbers (nothing there can change the station)\n",
                     opened->url().c_str());
    }
    server = std::move(opened);
    return kStatusOk;
}

void startStationPage(StationServer& server, const StationSettings& settings) {
    StationPageFacts facts;
    facts.station = settings.station;
    facts.ports = settings.ports;
    facts.imagePath = settings.image.path;
    facts.imageSha256 = settings.image.sha256;
    facts.imageBytes = settings.image.bytes;
    server.start(facts);
    std::fprintf(stderr, "station page: %s\n", server.url().c_str());
}
