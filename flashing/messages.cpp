#include "flashing/messages.h"

#include "flashing/flash_job.h"
#include "platform/system_text.h"

namespace {

std::string osErrorText(int osError) {
    return systemErrorText(static_cast<unsigned long>(osError)) + " (error " +
           std::to_string(osError) + ")";
}

// What lies behind a port outcome that is not about the transfer.
std::string portOutcomeDetail(PortOutcome outcome, const std::string& message, int osError) {
    const std::string dialogText = singleLine(message);
    switch (outcome) {
        case PortOutcome::Done:
            return "";
        case PortOutcome::PortInUse:
            return "the port is in use by another program (" + osErrorText(osError) + ")";
        case PortOutcome::PortNotOpened:
            return "the port cannot be opened (" + osErrorText(osError) + "); " + dialogText;
        case PortOutcome::NoDevice:
            return "no device answered; " + dialogText;
        case PortOutcome::PortLost:
            return "the port was lost" +
                   (osError != 0 ? " (" + osErrorText(osError) + ")" : std::string()) + "; " +
                   dialogText;
        case PortOutcome::SwitchRefused:
            return "the device refused the switch to its boot loader; " + dialogText;
        case PortOutcome::NoBootLoader:
            return "no boot loader answered after the switch; " + dialogText;
        case PortOutcome::TransferFailed:
            return dialogText;
        case PortOutcome::Stopped:
            return "interrupted";
    }
    return dialogText;
}

}  // namespace

std::string communicationErrorMessage(const TransferResult& transfer) {
    return "Communication Error \n" + std::to_string(displayCode(transfer));
}

std::string transferEndText(const TransferResult& transfer) {
    const std::string packet =
        transfer.packet > 0 ? " (packet " + std::to_string(transfer.packet) + ")" : "";
    const std::string deviceStatus = transfer.deviceStatus != TransferResult::kStatusNotKnown
                                         ? " (status " + std::to_string(transfer.deviceStatus) + ")"
                                         : "";
    switch (transfer.failure) {
        case TransferFailure::None:
            return "written";
        case TransferFailure::StartNotSent:
        case TransferFailure::PortFailed:
            return "the port failed: " + osErrorText(transfer.osError);
        case TransferFailure::DeviceSilent:
            return "the device stopped answering";
        case TransferFailure::Stopped:
            return "interrupted";
        case TransferFailure::PacketDamaged:
            return "the device refused a data packet (status 2)" + packet;
        case TransferFailure::PacketRejected:
            return "the device refused a data packet (status 5)" + packet;
        case TransferFailure::UnexpectedReply:
            return "the device answered a packet unexpectedly" + deviceStatus + packet;
        case TransferFailure::BadNegotiation:
            return "the device announced no usable packet size, or sent an over-long reply";
        case TransferFailure::NoStartReply:
            return "the device did not confirm the start of a block" + deviceStatus;
    }
    return "unknown result";
}

std::string jobDetailText(const FlashResult& result) {
    if (result.outcome == PortOutcome::Done) {
        return result.settleCut
                   ? "written; the pause while the device stores the image was cut short"
                   : "";
    }
    if (result.transferred && result.outcome != PortOutcome::Stopped) {
        std::string detail = singleLine(result.message) + ": " + transferEndText(result.transfer);
        if (result.outcome == PortOutcome::PortLost) detail += "; the port was lost";
        return detail;
    }
    return portOutcomeDetail(result.outcome, result.message, result.osError);
}

std::string jobDetailText(const IdentifyResult& result) {
    return portOutcomeDetail(result.outcome, result.message, result.osError);
}

std::string jobReasonText(const FlashResult& result) {
    const std::string code = " (" + std::to_string(result.code()) + ")";
    switch (result.outcome) {
        case PortOutcome::Done:
            return "";
        case PortOutcome::PortNotOpened:
            return "port cannot be opened";
        case PortOutcome::PortInUse:
            return "port in use";
        case PortOutcome::NoDevice:
            return "no device";
        case PortOutcome::PortLost:
            return result.transferred ? "port lost" + code : "port lost";
        case PortOutcome::SwitchRefused:
            return "boot switch refused";
        case PortOutcome::NoBootLoader:
            return "no boot loader";
        case PortOutcome::Stopped:
            return "interrupted";
        case PortOutcome::TransferFailed:
            break;
    }
    switch (result.transfer.failure) {
        case TransferFailure::PacketDamaged:
            return "packet damaged" + code;
        case TransferFailure::PacketRejected:
            return "packet rejected" + code;
        case TransferFailure::DeviceSilent:
            return "device silent" + code;
        case TransferFailure::UnexpectedReply:
            return "unexpected reply" + code;
        case TransferFailure::BadNegotiation:
            return "bad negotiation" + code;
        case TransferFailure::NoStartReply:
            return "no start reply" + code;
        default:
            return "transfer failed" + code;
    }
}

std::string singleLine(const std::string& message) {
    std::string line;
    for (char c : message) {
        if (c == '\r') continue;
        if (c == '\n') {
            if (!line.empty() && line.back() != ' ') line += ' ';
            continue;
        }
        line += c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}
