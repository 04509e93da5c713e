#pragma once

// Answers from a record, the console's or the service's (whose lines also name their sender):
// each command line gets the bytes that followed the same line in the record, in the recorded
// order and with the recorded delays, whoever sent it.

#include "sim/SerialWire.h"
#include "sim/SimOptions.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx200::sim {

// Bytes due this long after the command line came in.
struct ReplayChunk {
    Nanos after{0};
    std::string bytes;

    friend bool operator==(const ReplayChunk&, const ReplayChunk&) = default;
};
using ReplayAnswer = std::vector<ReplayChunk>;

class ReplayScript {
public:
    // Reads a record's text. The sent bytes are cut into command lines as the simulator cuts
    // its input; the bytes received after a line, until the next line was sent, are its answer.
    // Lines of the text that are not record lines (the header, a damaged line) are skipped, and
    // so are bytes received before the first command. Delays are divided by `speed`.
    explicit ReplayScript(std::string_view record, double speed = 1.0);

    // How many command lines the record holds.
    std::size_t commandCount() const { return commands_; }

    // The answer to the line's next use: its uses' answers in the recorded order, the last one
    // again once they are used up. Nothing for a line the record never sent.
    std::optional<ReplayAnswer> answer(std::string_view line);

private:
    struct Uses {
        std::vector<ReplayAnswer> answers;
        std::size_t next = 0;
    };
    std::map<std::string, Uses, std::less<>> lines_;
    std::size_t commands_ = 0;
};

// The script of the --replay file, nothing without one. Throws std::runtime_error when the file
// cannot be read or holds no command line.
std::optional<ReplayScript> loadReplay(const SimOptions& options);

} // namespace qx200::sim
