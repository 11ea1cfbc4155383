// How a port's outcome reads on one line of text.
#pragma once

#include <string>

#include "flashing/flash_job.h"

// A dialog message on one line: "Communication Error \n-9978" reads
// "Communication Error -9978".
std::string singleLine(const std::string& message);

// What a transfer result code means for the user.
std::string transferCodeMeaning(int code);

// Why the job on the port did not succeed, for a person: the dialog's message
// and what lies behind it ("in use by another program (...)", the code's meaning).
std::string failureDetail(PortOutcome outcome, const std::string& message, int osError, int code);
