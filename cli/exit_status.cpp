#include "cli/exit_status.h"

int exitStatusFor(PortOutcome outcome) { return outcomeStatus(outcome); }
