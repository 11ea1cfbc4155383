#include "flashing/status.h"

std::optional<ResultStatus> statusFromNumber(int number) {
    for (const ResultStatus status : kAllStatuses) {
        if (statusNumber(status) == number) return status;
    }
    return std::nullopt;
}

std::string statusText(ResultStatus status) {
    switch (status) {
        case ResultStatus::Ok:
            return "success";
        case ResultStatus::Refused:
            return "the device refused (the boot switch, or data), or the transfer failed";
        case ResultStatus::WrongRequest:
            return "a wrong argument";
        case ResultStatus::BadImage:
            return "the image cannot be used";
        case ResultStatus::NoDevice:
            return "no device answered, or the port cannot be opened or was lost";
        case ResultStatus::RecordsLost:
            return "a station's log or serial numbers cannot be used";
        case ResultStatus::Database:
            return "the line's database cannot be used";
        case ResultStatus::Interrupted:
            return "cancelled";
    }
    return "unknown status " + std::to_string(statusNumber(status));
}
