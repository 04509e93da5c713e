#include "sim/TcpEndpoint.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;

// Nothing periodic to do; the loop still wakes this often.
constexpr Nanos IdleWake = 1h;

[[noreturn]] void fail(const std::string& what, int error = errno)
{
    throw std::runtime_error(what + ": " + std::strerror(error));
}

} // namespace

TcpEndpoint::TcpEndpoint(TcpAddress address) : address_(std::move(address)) {}

TcpEndpoint::~TcpEndpoint()
{
    if (client_ >= 0)
        ::close(client_);
    if (listener_ >= 0)
        ::close(listener_);
}

void TcpEndpoint::open()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string port = std::to_string(address_.port);
    if (const int rc = ::getaddrinfo(address_.host.c_str(), port.c_str(), &hints, &found); rc != 0)
        throw std::runtime_error(address_.host + ": " + ::gai_strerror(rc));
    const addrinfo& first = *found;
    listener_ = ::socket(first.ai_family, first.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    const bool listening =
        listener_ >= 0 &&
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
        ::bind(listener_, first.ai_addr, first.ai_addrlen) == 0 && ::listen(listener_, 4) == 0;
    const int error = errno;
    ::freeaddrinfo(found);
    if (!listening)
        fail("listen on " + address_.host + ":" + port, error);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length) != 0)
        fail("getsockname");
    address_.port =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

std::string TcpEndpoint::device() const
{
    const bool v6 = address_.host.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + address_.host + "]" : address_.host) + ":" +
           std::to_string(address_.port);
}

bool TcpEndpoint::acceptPeer()
{
    const int peer = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0)
        return false; // gone before it was taken, or out of descriptors: the old peer stays
    // Replies are a few bytes each; they go out at once rather than waiting to be coalesced.
    const int one = 1;
    ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (client_ >= 0)
        ::close(client_);
    client_ = peer;
    return true;
}

void TcpEndpoint::hangUp(Nanos /*now*/)
{
    ::close(client_);
    client_ = -1;
}

Nanos TcpEndpoint::tend(Nanos now)
{
    return now + IdleWake;
}

} // namespace qx200::sim
