#include "sim/SerialWire.h"

#include <algorithm>

namespace qx200::sim {

std::vector<std::string> LineSplitter::feed(std::string_view bytes)
{
    std::vector<std::string> lines;
    for (const char c : bytes) {
        if (c == '\r') {
            lines.push_back(std::move(partial_));
            partial_.clear();
        } else if (c != '\n' && partial_.size() < MaxLine) {
            partial_ += c;
        }
    }
    return lines;
}

ReplyPacer::ReplyPacer(Nanos lead, Nanos gap) : lead_(lead), gap_(gap) {}

ReplyPacer ReplyPacer::forLine(Nanos split, int baud)
{
    const Nanos wire = baud > 0 ? Nanos(10'000'000'000LL / baud) : Nanos(0);
    return ReplyPacer(wire, std::max(split, wire));
}

void ReplyPacer::push(std::string_view bytes, Nanos now)
{
    for (const char c : bytes) {
        Nanos at = now + lead_;
        if (lastDue_)
            at = std::max(at, *lastDue_ + gap_);
        bytes_ += c;
        dueTimes_.push_back(at);
        lastDue_ = at;
    }
}

std::string_view ReplyPacer::due(Nanos now) const
{
    const auto end = std::upper_bound(dueTimes_.begin(), dueTimes_.end(), now);
    return std::string_view(bytes_).substr(0, static_cast<std::size_t>(end - dueTimes_.begin()));
}

void ReplyPacer::consume(std::size_t count)
{
    count = std::min(count, bytes_.size());
    bytes_.erase(0, count);
    dueTimes_.erase(dueTimes_.begin(), dueTimes_.begin() + static_cast<std::ptrdiff_t>(count));
}

std::optional<Nanos> ReplyPacer::nextDue() const
{
    if (dueTimes_.empty())
        return std::nullopt;
    return dueTimes_.front();
}

std::string Noise::bytes(std::size_t count)
{
    std::string out(count, '\0');
    for (char& c : out)
        c = static_cast<char>(rng_() & 0xFF);
    return out;
}

std::string Noise::garbageReply()
{
    return bytes(1 + rng_() % MaxGarbage);
}

std::uint64_t FloodMeter::owed(Nanos now) const
{
    if (now.count() <= 0)
        return 0;
    // Whole seconds and the rest apart, so that long runs at high rates do not overflow.
    const auto ns = static_cast<std::uint64_t>(now.count());
    const std::uint64_t total =
        ns / 1'000'000'000 * rate_ + ns % 1'000'000'000 * rate_ / 1'000'000'000;
    return total > sent_ ? total - sent_ : 0;
}

Nanos FloodMeter::nextDue() const
{
    if (rate_ == 0)
        return Nanos::max();
    // The first time at which (sent_ + 1) bytes are owed.
    const std::uint64_t n = sent_ + 1;
    const std::uint64_t seconds = n / rate_;
    const std::uint64_t rest = n % rate_;
    const std::uint64_t ns = seconds * 1'000'000'000 + (rest * 1'000'000'000 + rate_ - 1) / rate_;
    return Nanos(static_cast<Nanos::rep>(ns));
}

} // namespace qx200::sim
