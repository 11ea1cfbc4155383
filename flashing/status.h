// The statuses every front end ends with, and what each means: the command
// line's exit statuses, the C API's QUORVEL_STATUS_* and the Python package's
// STATUS_* are these numbers.
#pragma once

#include <array>
#include <optional>
#include <string>

enum class ResultStatus : int {
    Ok = 0,
    Refused = 1,       // the device refused (the boot switch, or data), or the transfer failed
    WrongRequest = 2,  // a wrong argument or command line
    BadImage = 3,      // the image cannot be used
    NoDevice = 4,      // no device answered; the port cannot be opened or was lost
    RecordsLost = 5,   // a station's log or serial numbers cannot be used
    Database = 6,      // the line's database cannot be used
    Interrupted = 130,
};

constexpr int statusNumber(ResultStatus status) { return static_cast<int>(status); }

// The numbers, for code that returns a status as a number (an exit status).
constexpr int kStatusOk = statusNumber(ResultStatus::Ok);
constexpr int kStatusRefused = statusNumber(ResultStatus::Refused);
constexpr int kStatusWrongRequest = statusNumber(ResultStatus::WrongRequest);
constexpr int kStatusBadImage = statusNumber(ResultStatus::BadImage);
constexpr int kStatusNoDevice = statusNumber(ResultStatus::NoDevice);
constexpr int kStatusRecordsLost = statusNumber(ResultStatus::RecordsLost);
constexpr int kStatusDatabase = statusNumber(ResultStatus::Database);
constexpr int kStatusInterrupted = statusNumber(ResultStatus::Interrupted);

// Every status, in the order of its number.
constexpr std::array<ResultStatus, 8> kAllStatuses = {
    ResultStatus::Ok,       ResultStatus::Refused,    ResultStatus::WrongRequest,
    ResultStatus::BadImage, ResultStatus::NoDevice,   ResultStatus::RecordsLost,
    ResultStatus::Database, ResultStatus::Interrupted};

// The status with this number; none for a number no front end gives.
std::optional<ResultStatus> statusFromNumber(int number);

// What a status means, for a person: "success", "the image cannot be used".
std::string statusText(ResultStatus status);
