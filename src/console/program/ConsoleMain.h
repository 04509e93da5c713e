#pragma once

// The console program from its command line to the end of its event loop.

#include <functional>

namespace qx200 {

// Told the name of each start-up phase as it ends ("settings", "application", "record",
// "window", "loaded", "shown"), so that a probe can see where the start-up time goes.
using StartWatch = std::function<void(const char* phase)>;

int consoleMain(int argc, char** argv, const StartWatch& reached = {});

} // namespace qx200
