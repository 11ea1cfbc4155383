// The command's exit statuses: the statuses of flashing/status.h, by the
// names the command line's files use.
#pragma once

#include "flashing/status.h"

constexpr int kExitSuccess = statusNumber(ResultStatus::Ok);
constexpr int kExitDeviceRefused = statusNumber(ResultStatus::Refused);
constexpr int kExitUsage = statusNumber(ResultStatus::WrongRequest);
constexpr int kExitImage = statusNumber(ResultStatus::BadImage);
constexpr int kExitNoDevice = statusNumber(ResultStatus::NoDevice);
constexpr int kExitRecordsLost = statusNumber(ResultStatus::RecordsLost);
constexpr int kExitDatabase = statusNumber(ResultStatus::Database);
constexpr int kExitInterrupted = statusNumber(ResultStatus::Interrupted);
