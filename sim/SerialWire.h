#pragma once

// The pieces between the projector model and the wire, all free of I/O: cutting received bytes
// into command lines, pacing replies, and the random bytes of the garbage and flood switches.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace qx200::sim {

using Nanos = std::chrono::nanoseconds;

// Cuts received bytes into lines at each CR. Line feeds are dropped, so a terminal that ends
// lines with CR LF is understood too. A line longer than MaxLine keeps its first MaxLine bytes
// (no command is anywhere near that long, so it is answered as unknown) and memory stays bounded.
class LineSplitter {
public:
    static constexpr std::size_t MaxLine = 256;

    // The lines completed by these bytes, without their CR, in order.
    std::vector<std::string> feed(std::string_view bytes);

private:
    std::string partial_;
};

// Holds reply bytes until they are due on the wire. Each byte is due `lead` after it was queued
// and at least `gap` after the byte before it, so bursts queue behind each other as on a real
// line. With both zero every byte is due at once.
class ReplyPacer {
public:
    ReplyPacer(Nanos lead, Nanos gap);

    // The pacing of the switches: a byte every `split` and no faster than `baud` (10 bits per
    // byte); zero for either means no such limit.
    static ReplyPacer forLine(Nanos split, int baud);

    void push(std::string_view bytes, Nanos now);
    // The bytes at the front that are due at `now`; stays valid until the next push or consume.
    std::string_view due(Nanos now) const;
    void consume(std::size_t count);
    std::size_t pending() const { return bytes_.size(); }
    // When the first queued byte falls due; nothing when the queue is empty.
    std::optional<Nanos> nextDue() const;

private:
    Nanos lead_;
    Nanos gap_;
    std::string bytes_;
    std::vector<Nanos> dueTimes_;
    std::optional<Nanos> lastDue_;
};

// Random bytes of all 256 values, reproducible from a seed.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : rng_(seed) {}
    std::string bytes(std::size_t count);
    // A reply of the garbage switch: 1 to MaxGarbage random bytes.
    static constexpr std::size_t MaxGarbage = 32;
    std::string garbageReply();

private:
    std::mt19937 rng_;
};

// How many bytes a flood of `rate` bytes per second owes at a time since it started.
class FloodMeter {
public:
    explicit FloodMeter(std::uint32_t bytesPerSecond) : rate_(bytesPerSecond) {}
    std::uint64_t owed(Nanos now) const;
    // Marks bytes as sent (or given up, when nobody reads the line).
    void sent(std::uint64_t count) { sent_ += count; }
    // When the next byte falls due.
    Nanos nextDue() const;

private:
    std::uint64_t rate_;
    std::uint64_t sent_ = 0;
};

} // namespace qx200::sim
