#include "sim/SimOptions.h"

#include <charconv>

namespace qx200::sim {
namespace {

// A whole decimal number within [low, high], nothing else.
std::optional<std::uint64_t> readNumber(std::string_view text, std::uint64_t low,
                                        std::uint64_t high)
{
    std::uint64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

constexpr std::uint64_t MaxDurationMs = 86'400'000; // one day
constexpr std::uint64_t MaxSplitMs = 60'000;
constexpr std::uint64_t MaxFlood = 10'000'000;
constexpr double MinReplaySpeed = 0.001;
constexpr double MaxReplaySpeed = 1000;

// A decimal number from `low` to `high`.
std::optional<double> readFactor(std::string_view text, double low, double high)
{
    double value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || !(value >= low) || value > high)
        return std::nullopt;
    return value;
}

// "PORT", "HOST:PORT" or "[IPV6]:PORT".
std::optional<TcpAddress> readTcpAddress(std::string_view text)
{
    TcpAddress address;
    const auto colon = text.rfind(':');
    if (colon != text.npos) {
        std::string_view host = text.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        else if (host.find(':') != host.npos)
            return std::nullopt;
        if (host.empty())
            return std::nullopt;
        address.host = std::string(host);
        text = text.substr(colon + 1);
    }
    const auto port = readNumber(text, 0, 65535);
    if (!port)
        return std::nullopt;
    address.port = static_cast<std::uint16_t>(*port);
    return address;
}

} // namespace

ParsedOptions parseOptions(std::span<const std::string_view> args)
{
    SimOptions options;
    bool linkGiven = false;
    auto fail = [](std::string message) { return ParsedOptions{std::nullopt, std::move(message)}; };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != name.npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const bool takesValue = name == "--link" || name == "--tcp" || name == "--split-ms" ||
                                name == "--flood" || name == "--baud" || name == "--seed" ||
                                name == "--warmup-ms" || name == "--cooldown-ms" ||
                                name == "--replay" || name == "--replay-speed";
        const bool isSwitch = name == "--silent" || name == "--garbage" || name == "--help" ||
                              name == "-h" || name == "--version";
        if (!takesValue && !isSwitch)
            return fail("unknown option '" + std::string(args[i]) + "'");
        if (isSwitch) {
            if (inlineValue)
                return fail("option '" + std::string(name) + "' takes no value");
            if (name == "--silent")
                options.silent = true;
            else if (name == "--garbage")
                options.garbage = true;
            else if (name == "--version")
                options.version = true;
            else
                options.help = true;
            continue;
        }

        std::string_view value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return fail("option '" + std::string(name) + "' needs a value");
        }
        auto bad = [&](std::string_view expected) {
            return fail("option '" + std::string(name) + "': '" + std::string(value) + "' is not " +
                        std::string(expected));
        };

        if (name == "--link") {
            if (value.empty())
                return bad("a path");
            options.link = std::string(value);
            linkGiven = true;
        } else if (name == "--tcp") {
            options.tcp = readTcpAddress(value);
            if (!options.tcp)
                return bad("a port or HOST:PORT (port 0 to 65535, an IPv6 host in brackets)");
        } else if (name == "--split-ms") {
            const auto ms = readNumber(value, 0, MaxSplitMs);
            if (!ms)
                return bad("a number of milliseconds from 0 to 60000");
            options.split = std::chrono::milliseconds(*ms);
        } else if (name == "--flood") {
            const auto rate = readNumber(value, 1, MaxFlood);
            if (!rate)
                return bad("a number of bytes per second from 1 to 10000000");
            options.flood = static_cast<std::uint32_t>(*rate);
        } else if (name == "--baud") {
            if (value != "19200" && value != "9600")
                return bad("19200 or 9600");
            options.baud = value == "19200" ? 19200 : 9600;
        } else if (name == "--seed") {
            const auto seed = readNumber(value, 0, UINT32_MAX);
            if (!seed)
                return bad("a number from 0 to 4294967295");
            options.seed = static_cast<std::uint32_t>(*seed);
        } else if (name == "--replay") {
            if (value.empty())
                return bad("a record file");
            options.replay = std::string(value);
        } else if (name == "--replay-speed") {
            const auto speed = readFactor(value, MinReplaySpeed, MaxReplaySpeed);
            if (!speed)
                return bad("a number from 0.001 to 1000");
            options.replaySpeed = *speed;
        } else {
            const auto ms = readNumber(value, 0, MaxDurationMs);
            if (!ms)
                return bad("a number of milliseconds from 0 to 86400000");
            (name == "--warmup-ms" ? options.warmup : options.cooldown) =
                std::chrono::milliseconds(*ms);
        }
    }
    if (linkGiven && options.tcp)
        return fail("options '--link' and '--tcp' exclude each other");
    if (options.replaySpeed != 1.0 && options.replay.empty())
        return fail("option '--replay-speed' needs '--replay FILE'");
    return ParsedOptions{options, {}};
}

std::string usageText()
{
    return R"(Usage: qx200-sim [options]
A projector on a pseudo-terminal. The slave side is linked to a path that a serial console can
open; the simulator serves until it is interrupted or terminated, then removes the link. With
--tcp it serves the same projector on a TCP port instead, as a serial server would.

Command lines end in CR. Known commands are acknowledged with the single byte ACK (6); status
queries (CR0 CR1 CR3 CR4 CR6 CR7 CRA CR9 "CR PRESSURE") get their data followed by CR; anything
else gets "?" and CR.

Options:
  --link PATH          link the pseudo-terminal here (default /tmp/qx200-COM1)
  --tcp [HOST:]PORT    serve on TCP instead (raw bytes; HOST defaults to 127.0.0.1; port 0
                       takes a free port); one console at a time, a new one takes over
  --warmup-ms N        count down after power on lasts N ms (default 10000)
  --cooldown-ms N      cooling down after power off lasts N ms (default 10000)
  --silent             read command lines but never answer
  --split-ms N         send replies one byte at a time, N ms apart
  --garbage            answer every line with 1 to 32 random bytes (all 256 values)
  --flood N            send N random bytes per second all the time, whatever comes in
  --baud 19200|9600    pace replies at the wire time of that speed (10 bits per byte)
  --seed N             seed the randomness (drift, garbage, flood) for a repeatable run
  --replay FILE        answer each command line as it was answered in the console's session
                       record FILE, in the recorded order and with the recorded delays; a line
                       the record never sent gets the normal answer
  --replay-speed N     replay N times as fast (0.5: half as fast; default 1)
  --help               show this text
  --version            show the version
)";
}

} // namespace qx200::sim
