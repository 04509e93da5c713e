// The real simulator program serving on TCP, reached as a console reaches a serial server.

#include "support/TcpSimulator.h"

#include <QDeadlineTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx200 {
namespace {

using qx200::testing::TcpSimulator;

// A connected client socket; closes itself.
class Client {
public:
    explicit Client(quint16 port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    bool connected() const { return connected_; }

    // Sends a line and reads until the reply is in, the server closes, or 10 s pass.
    std::string exchange(const std::string& line, const std::string& reply)
    {
        if (::write(fd_, line.data(), line.size()) != ssize_t(line.size()))
            return "(not sent)";
        return readUntil(reply);
    }

    std::string readUntil(const std::string& wanted)
    {
        std::string got;
        QDeadlineTimer deadline(10000);
        while (got.find(wanted) == std::string::npos && !deadline.hasExpired()) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            char buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) {
                closedByServer_ = true;
                break;
            }
            got.append(buffer, size_t(n));
        }
        return got;
    }

    bool closedByServer() const { return closedByServer_; }

private:
    int fd_;
    bool connected_ = false;
    bool closedByServer_ = false;
};

TEST(SimOnTcp, AnswersAClientOnAFreePort)
{
    TcpSimulator sim;
    EXPECT_EQ(sim.device(), QStringLiteral("tcp:127.0.0.1:%1").arg(sim.port()));
    Client client(sim.port());
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(client.exchange("CR0\r", "80\r"), "80\r");
    EXPECT_EQ(client.exchange("HELLO\r", "?\r"), "?\r");
}

TEST(SimOnTcp, ANewClientTakesTheLineOverAndTheProjectorKeepsItsState)
{
    TcpSimulator sim({"--warmup-ms", "0"});
    Client first(sim.port());
    ASSERT_TRUE(first.connected());
    EXPECT_EQ(first.exchange("C00\r", "\x06"), "\x06"); // power on

    Client second(sim.port());
    ASSERT_TRUE(second.connected());
    EXPECT_EQ(second.exchange("CR0\r", "00\r"), "00\r");
    first.readUntil("never sent");
    EXPECT_TRUE(first.closedByServer());
}

TEST(SimOnTcp, ServesTheNextClientAfterOneLeaves)
{
    TcpSimulator sim({"--warmup-ms", "0"});
    for (int round = 0; round < 3; ++round) {
        Client client(sim.port());
        ASSERT_TRUE(client.connected()) << "round " << round;
        EXPECT_EQ(client.exchange("C00\r", "\x06"), "\x06") << "round " << round;
        EXPECT_EQ(client.exchange("CR0\r", "00\r"), "00\r") << "round " << round;
    }
    EXPECT_EQ(sim.stop(), 0);
}

} // namespace
} // namespace qx200
