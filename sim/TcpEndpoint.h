#pragma once

// The simulator's end of the line on TCP: a listening socket and one client at a time. A client
// that connects takes the line over from the one before, as a cable plugged in anew would; a
// console that lost its connection without noticing gets served again when it reconnects.

#include "sim/SimOptions.h"
#include "sim/Wire.h"

#include <string>

namespace qx200::sim {

class TcpEndpoint final : public Wire {
public:
    explicit TcpEndpoint(TcpAddress address);
    ~TcpEndpoint() override;
    TcpEndpoint(const TcpEndpoint&) = delete;
    TcpEndpoint& operator=(const TcpEndpoint&) = delete;

    // Listens on the address. Throws std::runtime_error.
    void open();
    // Where it listens, as a console names the device: "tcp:127.0.0.1:4001" (the port the
    // system chose when port 0 was asked for).
    std::string device() const;

    int fd() const override { return client_; }
    int listenFd() const override { return listener_; }
    bool acceptPeer() override;
    void hangUp(Nanos now) override;
    Nanos tend(Nanos now) override;

private:
    TcpAddress address_;
    int listener_ = -1;
    int client_ = -1;
};

} // namespace qx200::sim
