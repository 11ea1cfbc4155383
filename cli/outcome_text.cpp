#include "cli/outcome_text.h"

#include "protocol/port_link.h"
#include "protocol/transfer.h"
#include "serial/serial_port.h"

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

std::string transferCodeMeaning(int code) {
    switch (code) {
        case 0:
            return "written";
        case kPacketDamaged:
            return "the device refused a data packet (status 2)";
        case kPacketRejected:
            return "the device refused a data packet (status 5)";
        case kUnexpectedAcknowledgement:
            return "the device answered a packet unexpectedly";
        case kBadNegotiation:
            return "the device announced no usable packet size, or sent an over-long reply";
        case kNoStartReply:
            return "the device did not confirm the start of a block";
        case kTimedOut - kBlockPortErrorOffset:
            return "the device stopped answering";
        default:
            break;
    }
    if (code > 0) return "the port failed: " + portErrorText(code);
    if (code > -kBlockPortErrorOffset) {
        return "the port failed: " + portErrorText(code + kBlockPortErrorOffset);
    }
    return "unknown result";
}

std::string failureDetail(PortOutcome outcome, const std::string& message, int osError, int code) {
    const std::string dialogText = singleLine(message);
    switch (outcome) {
        case PortOutcome::Done:
            return "";
        case PortOutcome::PortInUse:
            return "the port is in use by another program (" + portErrorText(osError) + ")";
        case PortOutcome::PortNotOpened:
            return "the port cannot be opened (" + portErrorText(osError) + "); " + dialogText;
        case PortOutcome::NoDevice:
            return "no device answered; " + dialogText;
        case PortOutcome::PortLost:
            if (code != 0)
                return dialogText + ": " + transferCodeMeaning(code) + "; the port was lost";
            return "the port was lost" +
                   (osError != 0 ? " (" + portErrorText(osError) + ")" : std::string()) + "; " +
                   dialogText;
        case PortOutcome::SwitchRefused:
            return "the device refused the switch to its boot loader; " + dialogText;
        case PortOutcome::NoBootLoader:
            return "no boot loader answered after the switch; " + dialogText;
        case PortOutcome::TransferFailed:
            return dialogText + ": " + transferCodeMeaning(code);
        case PortOutcome::Stopped:
            return "interrupted";
    }
    return dialogText;
}
