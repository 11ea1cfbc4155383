// The station page's HTTP server: `/` and its assets, `/api/state` (the
// page's state as one JSON document) and `/api/events` (the same state as a
// stream of Server-Sent Events, one whenever it changes). Read-only: nothing
// served changes the station. One thread serves every connection; the
// engine's threads only update the state model and wake that thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "station/station_events.h"
#include "web/listen_address.h"
#include "web/station_view.h"

class StationServer {
  public:
    explicit StationServer(ListenAddress address);
    // Stops serving, if it still does.
    ~StationServer();
    StationServer(const StationServer&) = delete;
    StationServer& operator=(const StationServer&) = delete;

    // Binds the address and listens; false, with the reason, when the address
    // is taken or cannot be used. Nothing is served yet.
    bool open(std::string& error);
    std::uint16_t port() const;
    bool loopback() const;  // the bound address reaches no other machine
    std::string url() const;

    // Serves the station's page on a thread of its own. `clock` is for tests.
    void start(StationPageFacts facts, WallClock clock = wallClockNow);
    // The observer that keeps the page's state: valid after start().
    StationObserver& observer();
    // Sends the last state to the open pages, ends their streams and stops.
    void stop();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
