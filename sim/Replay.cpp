#include "sim/Replay.h"

#include "record/RecordFormat.h"
#include "serial/BoundedFile.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qx200::sim {
namespace {

// A record larger than this is refused before it is read.
constexpr std::int64_t MaxReplayBytes = 256 << 20;
// A recorded answer waits at most this long: a record whose clock jumped would otherwise
// promise an answer after years, or overflow.
constexpr double MaxReplayDelayNs = 3600e9;

} // namespace

ReplayScript::ReplayScript(std::string_view record, double speed)
{
    LineSplitter splitter;
    ReplayAnswer* current = nullptr; // the answer of the line sent last
    record::Time sentAt{};
    while (!record.empty()) {
        const std::size_t end = record.find('\n');
        const auto line = record::parseLine(record.substr(0, end));
        record.remove_prefix(end == record.npos ? record.size() : end + 1);
        if (!line)
            continue;
        if (line->event == record::Event::Sent) {
            for (const std::string& command : splitter.feed(line->bytes)) {
                current = &lines_[command].answers.emplace_back();
                sentAt = line->time;
                ++commands_;
            }
        } else if (line->event == record::Event::Received && current) {
            const auto delay = std::chrono::duration<double, std::nano>(line->time - sentAt);
            const double ns = std::clamp(delay.count() / speed, 0.0, MaxReplayDelayNs);
            current->push_back({Nanos(std::llround(ns)), line->bytes});
        }
    }
}

std::optional<ReplayAnswer> ReplayScript::answer(std::string_view line)
{
    const auto found = lines_.find(line);
    if (found == lines_.end())
        return std::nullopt;
    Uses& uses = found->second;
    const ReplayAnswer& answer = uses.answers[uses.next];
    if (uses.next + 1 < uses.answers.size())
        ++uses.next;
    return answer;
}

std::optional<ReplayScript> loadReplay(const SimOptions& options)
{
    if (options.replay.empty())
        return std::nullopt;
    const FileRead file = readRegularFile(options.replay, MaxReplayBytes);
    if (!file.error.empty())
        throw std::runtime_error(options.replay + ": " + file.error);
    ReplayScript script(file.bytes, options.replaySpeed);
    if (script.commandCount() == 0)
        throw std::runtime_error(options.replay +
                                 " is not a record of the console or the service with a command "
                                 "in it");
    return script;
}

} // namespace qx200::sim
