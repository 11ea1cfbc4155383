// devsim: the simulated device on a pseudo-terminal (see --help).
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/devsim/options.h"
#include "tools/devsim/simulator.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

void installSignals() {
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the wait in poll ends at once
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    devsim::Options options;
    std::string error;
    if (!devsim::parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(devsim::helpText().c_str(), stdout);
        return 0;
    }
    installSignals();
    devsim::Simulator simulator(std::move(options));
    if (!simulator.start(error)) {
        std::fprintf(stderr, "devsim: %s\n", error.c_str());
        simulator.shutdown();
        return 1;
    }
    simulator.run(stopRequested);
    simulator.shutdown();
    return 0;
}
