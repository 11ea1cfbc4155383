// A port's facts from the listing (serial/port_listing.h) in a result.
#pragma once

#include <string>

#include "capi/quorvel.h"
#include "serial/port_listing.h"

// Writes the facts into the result's device, usb_id and serial_number.
void describePortFacts(const PortFacts& facts, quorvel_result& result);
