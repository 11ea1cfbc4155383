// The C API's results made from the flashing layer's: the status and outcome
// numbers of quorvel.h, and the caller's quorvel_result filled from a job.
#pragma once

#include <string>

#include "capi/quorvel.h"
#include "flashing/flash_request.h"
#include "image/code_image.h"

int outcomeNumber(PortOutcome outcome);

// Copies `text` into `buffer` of `size` bytes, cut at a UTF-8 character
// boundary when it does not fit, always terminated (size > 0).
void copyText(const std::string& text, char* buffer, std::size_t size);

// A result that says what went wrong before any port was opened.
quorvel_result refusedResult(int status, int outcome, const std::string& message,
                             const std::string& detail);
quorvel_result imageResult(const CodeImage& image);
quorvel_result flashResult(const FlashRecord& flashed, std::int64_t totalBytes);
// What answered, and the facts of the port asked.
quorvel_result identifyResult(const IdentifyResult& identified, const PortFacts& facts);
