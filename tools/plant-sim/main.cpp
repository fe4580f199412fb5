// plant-sim: the plant's two RS-485 links on pseudo-terminals, with Modbus RTU slaves behind
// them that can be told to misbehave. See README.md next to this file.

#include "options.h"
#include "simulator.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/signalfd.h>

int main(int argc, char **argv) {
    Options options;
    switch (parseOptions(argc, argv, options)) {
    case ParseResult::Help:
        printUsage(stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "Try 'plant-sim --help'.\n");
        return 2;
    case ParseResult::Ok:
        break;
    }

    // Terminating signals are taken through a signalfd in the event loop, so the links are
    // always torn down (symlinks removed) and the counts printed.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("plant-sim: sigprocmask");
        return 1;
    }
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("plant-sim: signalfd");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);

    Simulator sim(options);
    if (!sim.start())
        return 1;
    return sim.run(signalFd);
}
