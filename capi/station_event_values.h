// The station's events as the C API gives them: the numbers of quorvel.h and
// the caller's quorvel_station_event filled from an engine's event.
#pragma once

#include "capi/quorvel.h"
#include "station/station_events.h"

// Fills the kind's fields of `to`, which holds zeros and progress -1;
// `finalStatus` is the Ended event's status.
void fillEvent(const StationEvent& from, int finalStatus, quorvel_station_event& to);
