#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace qx200::testing {

// A listening TCP socket on 127.0.0.1 and a free port the system chose.
struct LoopbackListener {
    int fd = -1;
    sockaddr_in address{};

    explicit LoopbackListener(int backlog, int socketFlags = 0)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | socketFlags, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd, backlog) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("no listening socket on 127.0.0.1");
    }
    // The descriptor is the owner's to close.
    int release() { return fd; }
    unsigned short port() const { return ntohs(address.sin_port); }
};

} // namespace qx200::testing
