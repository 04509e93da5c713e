#include "sim/Wire.h"

#include "sim/ProjectorModel.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qx200::sim {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// Replies queued beyond this while nobody reads the line are dropped.
constexpr std::size_t MaxPendingReply = 64 * 1024;
// Flood bytes written at most per wake-up; what a full line refuses is dropped, not queued.
constexpr std::uint64_t MaxFloodChunk = 4096;

// Errors after which written bytes are lost because nobody is on the other side.
bool peerGone(int error)
{
    return error == EIO || error == EPIPE || error == ECONNRESET;
}

} // namespace

void serveProjector(Wire& wire, const SimOptions& options, int signalFd,
                    std::optional<ReplayScript> replay)
{
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();
    ProjectorModel model(ModelConfig{options.warmup, options.cooldown, seed});
    Noise noise(seed + 1);
    FloodMeter flood(options.flood);
    ReplyPacer pacer = ReplyPacer::forLine(options.split, options.baud);
    LineSplitter splitter;

    const auto start = Clock::now();
    auto elapsed = [start] { return std::chrono::duration_cast<Nanos>(Clock::now() - start); };

    bool outputBlocked = false; // the line refused bytes; wait until it takes more
    std::array<char, 4096> buffer{};

    // Writes bytes to the line; returns how many are done with (written, or lost when nobody is
    // on the other side). A full line sets outputBlocked.
    auto writeOut = [&](std::string_view bytes) -> std::size_t {
        if (wire.fd() < 0)
            return bytes.size();
        const ssize_t n = ::write(wire.fd(), bytes.data(), bytes.size());
        if (n >= 0) {
            if (static_cast<std::size_t>(n) < bytes.size())
                outputBlocked = true;
            return static_cast<std::size_t>(n);
        }
        if (errno == EAGAIN || errno == EINTR) {
            outputBlocked = true;
            return 0;
        }
        if (peerGone(errno))
            return bytes.size();
        fail("write to the line");
    };

    for (;;) {
        Nanos now = elapsed();
        Nanos wake = wire.tend(now);

        if (!outputBlocked) {
            if (const auto due = pacer.due(now); !due.empty())
                pacer.consume(writeOut(due));
            if (options.flood > 0 && !outputBlocked) {
                const std::uint64_t owed = flood.owed(now);
                if (owed > 0) {
                    writeOut(noise.bytes(static_cast<std::size_t>(std::min(owed, MaxFloodChunk))));
                    flood.sent(owed);
                }
            }
        }
        if (!outputBlocked) {
            if (const auto due = pacer.nextDue())
                wake = std::min(wake, *due);
            if (options.flood > 0)
                wake = std::min(wake, flood.nextDue());
        }

        std::array<pollfd, 3> fds{};
        fds[0] = {signalFd, POLLIN, 0};
        fds[1].fd = wire.resting(now) ? -1 : wire.fd();
        fds[1].events = static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0));
        fds[2] = {wire.listenFd(), POLLIN, 0};
        const Nanos wait = std::max(wake - now, Nanos(0));
        const timespec timeout{static_cast<time_t>(wait.count() / 1'000'000'000),
                               static_cast<long>(wait.count() % 1'000'000'000)};
        if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            fail("ppoll");
        }
        if (fds[0].revents != 0) {
            signalfd_siginfo info{};
            [[maybe_unused]] const auto got = ::read(signalFd, &info, sizeof info);
            return;
        }
        now = elapsed();
        // A new peer starts on a clean line: nothing owed to the one before reaches it.
        if ((fds[2].revents & POLLIN) && wire.acceptPeer()) {
            pacer = ReplyPacer::forLine(options.split, options.baud);
            splitter = LineSplitter();
            outputBlocked = false;
            continue;
        }

        const short revents = fds[1].revents;
        if (revents & POLLOUT)
            outputBlocked = false;
        if (revents & POLLIN) {
            const ssize_t n = ::read(wire.fd(), buffer.data(), buffer.size());
            if (n > 0) {
                const auto modelNow = std::chrono::duration_cast<Millis>(now);
                for (const std::string& line :
                     splitter.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
                    auto reply = replay ? replay->answer(line) : std::nullopt;
                    if (!reply)
                        reply = ReplayAnswer{{Nanos(0), options.garbage
                                                            ? noise.garbageReply()
                                                            : model.answer(line, modelNow)}};
                    for (const ReplayChunk& chunk : *reply) {
                        if (!options.silent &&
                            pacer.pending() + chunk.bytes.size() <= MaxPendingReply)
                            pacer.push(chunk.bytes, now + chunk.after);
                    }
                }
            } else if (n == 0 || peerGone(errno)) {
                wire.hangUp(now);
                outputBlocked = false;
            } else if (errno != EAGAIN && errno != EINTR) {
                fail("read from the line");
            }
        } else if (revents & (POLLHUP | POLLERR)) {
            wire.hangUp(now);
            outputBlocked = false;
        }
    }
}

} // namespace qx200::sim
