#pragma once

// The simulator's end of the serial line: a pseudo-terminal pair whose slave side is linked to a
// path, served by the projector model.

#include "sim/SimOptions.h"
#include "sim/Wire.h"

#include <string>

namespace qx200::sim {

class PtyEndpoint final : public Wire {
public:
    explicit PtyEndpoint(SimOptions options);
    ~PtyEndpoint() override; // closes the pair and removes the link if it still points at it
    PtyEndpoint(const PtyEndpoint&) = delete;
    PtyEndpoint& operator=(const PtyEndpoint&) = delete;

    // Opens the pair and links the slave to options.link. Throws std::runtime_error.
    void open();
    const std::string& slavePath() const { return slavePath_; }

    int fd() const override { return master_; }
    void hangUp(Nanos now) override;
    bool resting(Nanos now) const override { return now < restUntil_; }
    Nanos tend(Nanos now) override;

private:
    SimOptions options_;
    int master_ = -1;
    int slave_ = -1; // kept open so the pair survives consoles that come and go
    std::string slavePath_;
    bool linked_ = false;
    Nanos restUntil_{0}; // after a hang-up, until then the master is not watched
    Nanos nextExclusiveClear_{0};
};

} // namespace qx200::sim
