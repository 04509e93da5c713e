#pragma once

// The simulator's end of a line, whatever carries it (a pseudo-terminal, a TCP connection), and
// the loop that serves the projector model on it.

#include "sim/Replay.h"
#include "sim/SerialWire.h"
#include "sim/SimOptions.h"

#include <optional>

namespace qx200::sim {

class Wire {
public:
    virtual ~Wire() = default;

    // The descriptor bytes are read from and written to; -1 while nobody is on the other side
    // (what is written meanwhile is lost, as on a bare wire).
    virtual int fd() const = 0;
    // A descriptor on which a new peer may arrive (a listening socket); -1 for none.
    virtual int listenFd() const { return -1; }
    // Called when listenFd() is readable; true when a new peer now has the wire.
    virtual bool acceptPeer() { return false; }
    // The other side went away (end of file, reset, hang-up).
    virtual void hangUp(Nanos now) = 0;
    // True while fd() is not to be watched for input, after a hang-up.
    virtual bool resting(Nanos /*now*/) const { return false; }
    // Does the wire's periodic work; returns when it is next due.
    virtual Nanos tend(Nanos now) = 0;
};

// Answers command lines on the wire until signalFd (a signalfd) becomes readable; with a replay
// script, the lines it knows are answered from it. Throws std::runtime_error when the wire fails.
void serveProjector(Wire& wire, const SimOptions& options, int signalFd,
                    std::optional<ReplayScript> replay = std::nullopt);

} // namespace qx200::sim
