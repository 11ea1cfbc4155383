// How a port's job and the image read on the command line: the JSON entries
// and the one-line texts that flash and station print.
#pragma once

#include <string>

#include "cli/json_output.h"
#include "flashing/flash_job.h"
#include "flashing/flash_record.h"
#include "image/code_image.h"
#include "serial/port_listing.h"

Json imageJson(const std::string& path, const CodeImage& image);

// "COM5: ok, 5000 bytes in 0.52 s (9615 bytes/s); ..." or why it failed.
std::string portSummaryLine(const std::string& port, const FlashResult& result);

// What the job is doing, for a progress line.
const char* flashStepText(FlashStep step);
