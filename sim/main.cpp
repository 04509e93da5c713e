// qx200-sim: a projector on a pseudo-terminal, for trying the console without hardware.

#include "PtyEndpoint.h"
#include "Replay.h"
#include "SimOptions.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <string_view>
#include <sys/signalfd.h>
#include <vector>

int main(int argc, char** argv)
{
    using namespace qx200::sim;

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const ParsedOptions parsed = parseOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "qx200-sim: %s\nTry 'qx200-sim --help'.\n", parsed.error.c_str());
        return 2;
    }
    if (parsed.options->help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }

    // Termination signals are taken from a signalfd, blocked from the start so that one that
    // arrives during set-up still ends the run through the same clean path.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0) {
        std::perror("qx200-sim: signalfd");
        return 1;
    }

    try {
        PtyEndpoint endpoint(*parsed.options, loadReplay(*parsed.options));
        endpoint.open();
        std::printf("qx200-sim: serving on %s\n", parsed.options->link.c_str());
        std::fflush(stdout);
        endpoint.serve(signalFd);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qx200-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
