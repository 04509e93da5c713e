// qx200-sim: a projector on a pseudo-terminal or on TCP, for trying the console without hardware.

#include "serial/StopSignals.h"
#include "sim/PtyEndpoint.h"
#include "sim/Replay.h"
#include "sim/SimOptions.h"
#include "sim/TcpEndpoint.h"

#include <csignal>
#include <cstdio>
#include <exception>
#include <optional>
#include <string_view>
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
    if (parsed.options->version) {
        std::puts("qx200-sim " QX200_VERSION);
        return 0;
    }

    // Termination signals are taken from a signalfd, blocked from the start so that one that
    // arrives during set-up still ends the run through the same clean path.
    const int signalFd = qx200::openStopSignals();
    std::signal(SIGPIPE, SIG_IGN);
    if (signalFd < 0) {
        std::perror("qx200-sim: signalfd");
        return 1;
    }

    // Serves on the opened wire until a termination signal; the line printed first tells a
    // console (or a test) where to connect.
    std::optional<ReplayScript> replay;
    auto serve = [&](auto& endpoint, const std::string& where) {
        std::printf("qx200-sim: serving on %s\n", where.c_str());
        std::fflush(stdout);
        serveProjector(endpoint, *parsed.options, signalFd, std::move(replay));
    };
    try {
        replay = loadReplay(*parsed.options);
        if (const auto& tcp = parsed.options->tcp) {
            TcpEndpoint endpoint(*tcp);
            endpoint.open();
            serve(endpoint, endpoint.device());
        } else {
            PtyEndpoint endpoint(*parsed.options);
            endpoint.open();
            serve(endpoint, parsed.options->link);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qx200-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
