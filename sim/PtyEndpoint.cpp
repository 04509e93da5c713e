#include "PtyEndpoint.h"

#include "ProjectorModel.h"
#include "SerialWire.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what, int error = errno)
{
    throw std::runtime_error(what + ": " + std::strerror(error));
}

// Replies queued beyond this while nobody reads the line are dropped.
constexpr std::size_t MaxPendingReply = 64 * 1024;
// Flood bytes written at most per wake-up; what a full line refuses is dropped, not queued.
constexpr std::uint64_t MaxFloodChunk = 4096;
// After the master reports a hang-up, look again this much later instead of spinning.
constexpr Nanos HangUpBackOff = 100ms;
// Serial libraries mark a port exclusive when they open it and clear the mark when they close
// it. A console killed in between would leave the pair locked against its next start, so the
// mark is cleared this often.
constexpr Nanos ExclusiveClearPeriod = 1s;

std::string readLink(const std::string& path)
{
    std::array<char, 4096> target{};
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    return n > 0 ? std::string(target.data(), static_cast<std::size_t>(n)) : std::string();
}

} // namespace

PtyEndpoint::PtyEndpoint(SimOptions options, std::optional<ReplayScript> replay)
    : options_(std::move(options)), replay_(std::move(replay))
{
}

PtyEndpoint::~PtyEndpoint()
{
    // Another simulator may have taken the path over meanwhile; its link stays.
    if (linked_ && readLink(options_.link) == slavePath_)
        ::unlink(options_.link.c_str());
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
}

void PtyEndpoint::open()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0)
        fail("posix_openpt");
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (::grantpt(master_) != 0)
        fail("grantpt");
    if (::unlockpt(master_) != 0)
        fail("unlockpt");
    std::array<char, 256> name{};
    if (const int rc = ::ptsname_r(master_, name.data(), name.size()); rc != 0)
        fail("ptsname_r", rc);
    slavePath_ = name.data();

    slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        fail("open " + slavePath_);

    // Raw, no echo: the line discipline must pass every byte through unchanged.
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0)
        fail("tcgetattr");
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    if (::tcsetattr(master_, TCSANOW, &tio) != 0)
        fail("tcsetattr");
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) == -1)
        fail("fcntl");

    // A link left behind by an earlier run is replaced; anything else at the path is kept.
    const std::string& path = options_.link;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
        throw std::runtime_error(path + " exists and is not a symbolic link");
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    ::unlink(temp.c_str());
    if (::symlink(slavePath_.c_str(), temp.c_str()) != 0)
        fail("symlink " + temp);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        fail("rename " + temp + " to " + path, error);
    }
    linked_ = true;
}

void PtyEndpoint::serve(int signalFd)
{
    const std::uint32_t seed = options_.seed ? *options_.seed : std::random_device{}();
    ProjectorModel model(ModelConfig{options_.warmup, options_.cooldown, seed});
    Noise noise(seed + 1);
    FloodMeter flood(options_.flood);
    ReplyPacer pacer = ReplyPacer::forLine(options_.split, options_.baud);
    LineSplitter splitter;

    const auto start = Clock::now();
    auto elapsed = [start] { return std::chrono::duration_cast<Nanos>(Clock::now() - start); };

    bool outputBlocked = false; // the line refused bytes; wait until it takes more
    Nanos masterQuietUntil{0};  // after a hang-up, until then the master is not polled
    Nanos nextExclusiveClear{0};
    std::array<char, 4096> buffer{};

    // Writes bytes to the line; returns how many are done with (written, or lost when nobody is
    // on the other side). A full line sets outputBlocked.
    auto writeOut = [&](std::string_view bytes) -> std::size_t {
        const ssize_t n = ::write(master_, bytes.data(), bytes.size());
        if (n >= 0) {
            if (static_cast<std::size_t>(n) < bytes.size())
                outputBlocked = true;
            return static_cast<std::size_t>(n);
        }
        if (errno == EAGAIN || errno == EINTR) {
            outputBlocked = true;
            return 0;
        }
        if (errno == EIO) // nobody on the other side: the bytes are lost, as on a bare wire
            return bytes.size();
        fail("write to pseudo-terminal");
    };

    for (;;) {
        Nanos now = elapsed();
        if (now >= nextExclusiveClear) {
            ::ioctl(slave_, TIOCNXCL);
            nextExclusiveClear = now + ExclusiveClearPeriod;
        }

        if (!outputBlocked) {
            if (const auto due = pacer.due(now); !due.empty())
                pacer.consume(writeOut(due));
            if (options_.flood > 0 && !outputBlocked) {
                const std::uint64_t owed = flood.owed(now);
                if (owed > 0) {
                    writeOut(noise.bytes(static_cast<std::size_t>(std::min(owed, MaxFloodChunk))));
                    flood.sent(owed);
                }
            }
        }

        Nanos wake = nextExclusiveClear;
        if (!outputBlocked) {
            if (const auto due = pacer.nextDue())
                wake = std::min(wake, *due);
            if (options_.flood > 0)
                wake = std::min(wake, flood.nextDue());
        }
        const bool masterQuiet = now < masterQuietUntil;
        if (masterQuiet)
            wake = std::min(wake, masterQuietUntil);

        std::array<pollfd, 2> fds{};
        fds[0] = {signalFd, POLLIN, 0};
        fds[1].fd = masterQuiet ? -1 : master_;
        fds[1].events = static_cast<short>(POLLIN | (outputBlocked ? POLLOUT : 0));
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

        const short revents = fds[1].revents;
        now = elapsed();
        if (revents & POLLOUT)
            outputBlocked = false;
        if (revents & POLLIN) {
            const ssize_t n = ::read(master_, buffer.data(), buffer.size());
            if (n > 0) {
                const auto modelNow = std::chrono::duration_cast<Millis>(now);
                for (const std::string& line :
                     splitter.feed(std::string_view(buffer.data(), static_cast<std::size_t>(n)))) {
                    auto reply = replay_ ? replay_->answer(line) : std::nullopt;
                    if (!reply)
                        reply = ReplayAnswer{{Nanos(0), options_.garbage
                                                            ? noise.garbageReply()
                                                            : model.answer(line, modelNow)}};
                    for (const ReplayChunk& chunk : *reply) {
                        if (!options_.silent &&
                            pacer.pending() + chunk.bytes.size() <= MaxPendingReply)
                            pacer.push(chunk.bytes, now + chunk.after);
                    }
                }
            } else if (n == 0 || errno == EIO) {
                masterQuietUntil = now + HangUpBackOff;
            } else if (errno != EAGAIN && errno != EINTR) {
                fail("read from pseudo-terminal");
            }
        } else if (revents & (POLLHUP | POLLERR)) {
            masterQuietUntil = now + HangUpBackOff;
        }
    }
}

} // namespace qx200::sim
