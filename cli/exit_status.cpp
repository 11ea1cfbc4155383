#include "cli/exit_status.h"

int exitStatusFor(PortOutcome outcome) {
    switch (outcome) {
        case PortOutcome::Done:
            return kExitSuccess;
        case PortOutcome::SwitchRefused:
        case PortOutcome::TransferFailed:
            return kExitDeviceRefused;
        case PortOutcome::PortNotOpened:
        case PortOutcome::PortInUse:
        case PortOutcome::NoDevice:
        case PortOutcome::PortLost:
        case PortOutcome::NoBootLoader:
            return kExitNoDevice;
        case PortOutcome::Stopped:
            return kExitInterrupted;
    }
    return kExitDeviceRefused;
}
