// station --http: the station's live page, opened before anything else so
// that a taken port ends the command before any board is touched.
#pragma once

#include <memory>
#include <string>

#include "station/station_engine.h"
#include "web/station_server.h"

// Binds the page's address when `http` ("[ADDRESS:]PORT") is given. 0, or
// kStatusWrongRequest for an address that cannot be served (said on standard error).
int openStationPage(const std::string& http, std::unique_ptr<StationServer>& server);

// Serves the page for the station about to start.
void startStationPage(StationServer& server, const StationSettings& settings);
