// A port's flash as a JSON object: what quorvel-cli flash prints for a port,
// and the result part of a station's record.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "flashing/flash_request.h"

// port, device (and usb_id, serial_number for a usb: name), ok, code,
// os_error, message, device_before, device_after, bytes, seconds,
// bytes_per_second, status, detail.
nlohmann::ordered_json flashRecordJson(const FlashRecord& record);

// Bytes per second of the transfer; 0 when it did not run.
double bytesPerSecond(const FlashResult& result);
