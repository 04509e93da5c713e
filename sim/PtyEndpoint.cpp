#include "sim/PtyEndpoint.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;

[[noreturn]] void fail(const std::string& what, int error = errno)
{
    throw std::runtime_error(what + ": " + std::strerror(error));
}

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

PtyEndpoint::PtyEndpoint(SimOptions options) : options_(std::move(options)) {}

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

void PtyEndpoint::hangUp(Nanos now)
{
    restUntil_ = now + HangUpBackOff;
}

Nanos PtyEndpoint::tend(Nanos now)
{
    if (now >= nextExclusiveClear_) {
        ::ioctl(slave_, TIOCNXCL);
        nextExclusiveClear_ = now + ExclusiveClearPeriod;
    }
    return resting(now) ? std::min(nextExclusiveClear_, restUntil_) : nextExclusiveClear_;
}

} // namespace qx200::sim
