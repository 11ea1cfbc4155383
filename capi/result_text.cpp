#include "capi/result_text.h"

#include "flashing/messages.h"
#include "flashing/status.h"
#include "protocol/transfer.h"

std::string statusCodeText(int status, int code) {
    const std::optional<ResultStatus> known = statusFromNumber(status);
    if (!known) return "unknown status " + std::to_string(status);
    const bool transferStatus = known == ResultStatus::Refused || known == ResultStatus::NoDevice;
    if (code != 0 && transferStatus) {
        const std::optional<TransferResult> transfer =
            transferResultOfCode(code, known == ResultStatus::NoDevice);
        if (transfer) return transferEndText(*transfer);
        return "transfer result code " + std::to_string(code);
    }
    return statusText(*known);
}
