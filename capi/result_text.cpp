#include "capi/result_text.h"

#include "capi/quorvel.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

namespace {

std::string statusText(int status) {
    switch (status) {
        case QUORVEL_STATUS_OK:
            return "success";
        case QUORVEL_STATUS_REFUSED:
            return "the device refused (the boot switch, or data), or the transfer failed";
        case QUORVEL_STATUS_ARGUMENTS:
            return "a wrong argument";
        case QUORVEL_STATUS_IMAGE:
            return "the image cannot be used";
        case QUORVEL_STATUS_NO_DEVICE:
            return "no device answered, or the port cannot be opened or was lost";
        case QUORVEL_STATUS_RECORDS:
            return "a station's log or serial numbers cannot be used";
        case QUORVEL_STATUS_CANCELLED:
            return "cancelled";
    }
    return "unknown status " + std::to_string(status);
}

std::string osErrorText(int osError) {
    return portErrorText(osError) + " (OS error " + std::to_string(osError) + ")";
}

// A code under status 1: the device's refusals, or its silence.
std::string deviceCodeText(int code) {
    switch (code) {
        case kPacketDamaged:
            return "the device refused a data packet (its status 2), usually a damaged packet";
        case kPacketRejected:
            return "the device refused a data packet (its status 5): the data does not fit the "
                   "device";
        case kUnexpectedAcknowledgement:
            return "the device answered a packet unexpectedly, or did not confirm the end of the "
                   "image";
        case kBadNegotiation:
            return "the device announced no usable packet size, or sent an over-long reply";
        case kNoStartReply:
            return "the device did not confirm the start of the image";
        case kDeviceSilentCode:
            return "the device stopped answering in the middle of the transfer";
    }
    return "transfer result code " + std::to_string(code);
}

// A code under status 4: the OS error of a port that failed before or during the transfer.
std::string portCodeText(int code) {
    if (code > 0) return "the port failed before the transfer: " + osErrorText(code);
    return "the port failed during the transfer: " + osErrorText(code + kBlockPortErrorOffset);
}

}  // namespace

bool knownStatus(int status) {
    switch (status) {
        case QUORVEL_STATUS_OK:
        case QUORVEL_STATUS_REFUSED:
        case QUORVEL_STATUS_ARGUMENTS:
        case QUORVEL_STATUS_IMAGE:
        case QUORVEL_STATUS_NO_DEVICE:
        case QUORVEL_STATUS_RECORDS:
        case QUORVEL_STATUS_CANCELLED:
            return true;
    }
    return false;
}

std::string resultText(int status, int code) {
    if (code != 0 && status == QUORVEL_STATUS_REFUSED) return deviceCodeText(code);
    if (code != 0 && status == QUORVEL_STATUS_NO_DEVICE) return portCodeText(code);
    return statusText(status);
}
