#pragma once

// The simulator's end of the serial line: a pseudo-terminal pair whose slave side is linked to a
// path, served by the projector model.

#include "Replay.h"
#include "SimOptions.h"

#include <optional>
#include <string>

namespace qx200::sim {

class PtyEndpoint {
public:
    // With a replay script, the lines it knows are answered from it.
    explicit PtyEndpoint(SimOptions options, std::optional<ReplayScript> replay = std::nullopt);
    ~PtyEndpoint(); // closes the pair and removes the link if it still points at it
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // Opens the pair and links the slave to options.link. Throws std::runtime_error.
    void open();
    const std::string& slavePath() const { return slavePath_; }

    // Answers command lines until signalFd (a signalfd) becomes readable. Throws
    // std::runtime_error when the pseudo-terminal fails.
    void serve(int signalFd);

private:
    SimOptions options_;
    std::optional<ReplayScript> replay_;
    int master_ = -1;
    int slave_ = -1; // kept open so the pair survives consoles that come and go
    std::string slavePath_;
    bool linked_ = false;
};

} // namespace qx200::sim
