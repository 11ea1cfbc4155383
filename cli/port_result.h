// How a port's job and the image read on the command line: the JSON entries
// and the one-line texts that flash and station print.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "flashing/flash_job.h"
#include "flashing/flash_record.h"
#include "image/code_image.h"
#include "serial/port_listing.h"

using Json = nlohmann::ordered_json;

Json describeImage(const std::string& path, const CodeImage& image);

// "COM5: ok, 5000 bytes in 0.52 s (9615 bytes/s); ..." or why it failed.
std::string resultLine(const std::string& port, const FlashResult& result);

// What the job is doing, for a progress line.
const char* stepText(FlashStep step);

// One document on standard output; bytes that are not UTF-8 (a file name) are replaced.
void printJson(const Json& document, int indent);
