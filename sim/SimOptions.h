#pragma once

// The simulator's command line.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qx200::sim {

// Where the simulator listens for a console on TCP.
struct TcpAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0; // 0: a free port the system chooses
    friend bool operator==(const TcpAddress&, const TcpAddress&) = default;
};

struct SimOptions {
    std::string link = "/tmp/qx200-COM1";
    std::optional<TcpAddress> tcp;      // serve on TCP instead of a pseudo-terminal
    bool silent = false;                // read lines, never answer
    bool garbage = false;               // answer every line with random bytes
    std::chrono::milliseconds split{0}; // reply one byte at a time, this far apart
    std::uint32_t flood = 0;            // random bytes per second regardless of input; 0: off
    int baud = 0;                       // pace replies at this line speed; 0: no pacing
    std::optional<std::uint32_t> seed;  // none: a different sequence every run
    std::chrono::milliseconds warmup{10000};
    std::chrono::milliseconds cooldown{10000};
    std::string replay;       // a session record to answer from; empty: none
    double replaySpeed = 1.0; // the record's delays are divided by this
    bool help = false;
    bool version = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options; // nothing when the command line is wrong
    std::string error;                 // why, for the user
};

// Parses the arguments after the program name. Accepts "--name value" and "--name=value".
ParsedOptions parseOptions(std::span<const std::string_view> args);

std::string usageText();

} // namespace qx200::sim
