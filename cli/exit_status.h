// The command's exit statuses and what leads to each.
#pragma once

#include "flashing/flash_job.h"

constexpr int kExitSuccess = 0;
constexpr int kExitDeviceRefused = 1;  // the device refused, or the transfer failed
constexpr int kExitUsage = 2;          // the command line is wrong
constexpr int kExitImage = 3;          // the image file cannot be used
constexpr int kExitNoDevice = 4;       // no device answered; the port cannot be opened or was lost
constexpr int kExitRecordsLost = 5;    // the log or serial file cannot be written, or the log read
constexpr int kExitDatabase = 6;       // the line's database cannot be used
constexpr int kExitInterrupted = 130;  // Ctrl-C

int exitStatusFor(PortOutcome outcome);
