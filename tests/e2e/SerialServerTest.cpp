// The console on serial devices behind the real serial server (ser2net), over raw TCP and over
// Telnet with the COM-PORT option, driven through its widgets like the other end-to-end tests.

#include "support/SerialServer.h"
#include "e2e/EndToEnd.h"
#include "e2e/FaultSupport.h"
#include "support/LoopbackListener.h"

#include <QCryptographicHash>
#include <QRadioButton>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::testing {
namespace {

using Protocol = SerialServer::Protocol;

std::string protocolName(const ::testing::TestParamInfo<Protocol>& info)
{
    return info.param == Protocol::Rfc2217 ? "Rfc2217" : "Tcp";
}

class OverSerialServer : public EndToEnd, public ::testing::WithParamInterface<Protocol> {
protected:
    void TearDown() override
    {
        EndToEnd::TearDown();
        server.reset();
    }

    // The simulator behind the server, the console on the server's address.
    void startBehindServer()
    {
        simulator = std::make_unique<Simulator>(QStringList{});
        server = std::make_unique<SerialServer>(simulator->link(), GetParam());
        startConsole(server->address());
        // Every notice the service raises, whatever the window makes of it.
        const auto onFault = port->OnFault;
        port->OnFault = [this, onFault](const QString& text) {
            faults << text;
            onFault(text);
        };
        ASSERT_TRUE(waitUntil([this] { return !port->deviceLost(); })) << "never connected";
    }

    std::unique_ptr<SerialServer> server;
    QStringList faults;
};

struct StatusCase {
    const char* button;
    const char* status;
};
// The simulator starts in standby on input 1 with 1234 lamp hours.
constexpr StatusCase StatusCases[] = {
    {"Command44", " Stand by"},
    {"Command45", " Computer 1"},
    {"Command46", " 0 1 2 3 4 CR  Hour Use"},
    {"Command47", " Normally"},
    {"Command55", " LAMP OFF"},
};

TEST_P(OverSerialServer, StatusButtonsDecodeTheSimulatorsReplies)
{
    ASSERT_NO_FATAL_FAILURE(startBehindServer());
    for (const auto& [button, status] : StatusCases)
        EXPECT_EQ(ask(button), status) << button;
    EXPECT_TRUE(faults.isEmpty()) << faults.join('\n').toStdString();
}

// The server stopped and started again, many times: told once each time, back on its own, idle
// while it waits, and nothing kept from one round to the next.
TEST_P(OverSerialServer, ComesBackEachTimeTheServerIsRestarted)
{
    ASSERT_NO_FATAL_FAILURE(startBehindServer());
    constexpr int Cycles = 50;
    constexpr int WarmUp = 5;
    int descriptorsAfterWarmUp = 0;
    qint64 memoryAfterWarmUp = 0;
    for (int cycle = 1; cycle <= Cycles; ++cycle) {
        server->stop();
        ASSERT_TRUE(waitUntil([&] { return faults.size() == cycle; })) << "cycle " << cycle;
        if (cycle == 1) {
            EXPECT_LT(processorShareWhileRunning(3000), 0.05) << "busy while the server is away";
        }
        server->start();
        ASSERT_TRUE(waitUntil([this] { return !port->deviceLost(); })) << "cycle " << cycle;
        EXPECT_EQ(faults.size(), cycle) << faults.join('\n').toStdString();
        if (cycle == WarmUp) {
            descriptorsAfterWarmUp = openDescriptors();
            memoryAfterWarmUp = residentKiB();
        }
    }
    EXPECT_LE(openDescriptors(), descriptorsAfterWarmUp);
    if (ResidentMemoryTellsLeaks) {
        EXPECT_LT(residentKiB() - memoryAfterWarmUp, 2048);
    }
    EXPECT_TRUE(faults.front().startsWith(QStringLiteral("COM1 (%1): ").arg(server->address())))
        << faults.front().toStdString();
    EXPECT_EQ(ask("Command44"), " Stand by");
}

// The device behind the server goes away (the simulator stops: an adapter pulled at the server)
// and comes back: told once, though the server accepts and hangs up at every attempt meanwhile.
TEST_P(OverSerialServer, ComesBackWhenTheServersDeviceReturns)
{
    ASSERT_NO_FATAL_FAILURE(startBehindServer());
    int recoveries = 0;
    port->OnRecover = [&] { ++recoveries; };
    simulator->stop();
    ASSERT_TRUE(waitUntil([this] { return !faults.isEmpty(); }));
    runFor(4000); // several attempts, each accepted and hung up by the server
    EXPECT_EQ(faults.size(), 1) << faults.join('\n').toStdString();
    EXPECT_EQ(recoveries, 0);

    simulator->start({});
    ASSERT_TRUE(waitUntil([&] { return recoveries == 1; }));
    EXPECT_EQ(faults.size(), 1) << faults.join('\n').toStdString();
    EXPECT_EQ(ask("Command44"), " Stand by");
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, OverSerialServer,
                         ::testing::Values(Protocol::Raw, Protocol::Rfc2217), protocolName);

// The test holds the far end of the server's pseudo-terminal itself.
class OverRfc2217 : public EndToEnd {
protected:
    void TearDown() override
    {
        EndToEnd::TearDown();
        server.reset();
    }
    void startBehindServer()
    {
        peer = std::make_unique<PseudoTerminal>();
        server = std::make_unique<SerialServer>(peer->link(), Protocol::Rfc2217);
        startConsole(server->address());
        ASSERT_TRUE(waitUntil([this] { return !port->deviceLost(); })) << "never connected";
    }
    speed_t lineSpeed() const
    {
        const termios attributes = peer->slaveAttributes();
        return cfgetospeed(&attributes);
    }

    std::unique_ptr<SerialServer> server;
};

TEST_F(OverRfc2217, ChoosingTheSpeedSetsTheRemoteLine)
{
    ASSERT_NO_FATAL_FAILURE(startBehindServer());
    QTest::mouseClick(form->Option10, Qt::LeftButton); // "9600"
    EXPECT_TRUE(waitUntil([this] { return lineSpeed() == B9600; })) << lineSpeed();
    const termios attributes = peer->slaveAttributes();
    EXPECT_EQ(attributes.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(attributes.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
    QTest::mouseClick(form->Option9, Qt::LeftButton); // "19200"
    EXPECT_TRUE(waitUntil([this] { return lineSpeed() == B19200; })) << lineSpeed();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

// Every byte value, 255 included, 1 MiB each way, compared by SHA-256.
TEST_F(OverRfc2217, CarriesEveryByteValueUnchangedBothWays)
{
    ASSERT_NO_FATAL_FAILURE(startBehindServer());
    form.reset(); // the service alone; the window would render every byte
    QByteArray received;
    port->OnComm = [&] { received += port->Input(); };

    constexpr qsizetype Size = 1 << 20;
    QByteArray payload(Size, Qt::Uninitialized);
    for (qsizetype i = 0; i < Size; ++i)
        payload[i] = char(i % 256 == 0 ? 255 : QRandomGenerator::global()->bounded(256));
    const QByteArray expected = QCryptographicHash::hash(payload, QCryptographicHash::Sha256);

    // Out: chunks handed over as the queue empties; read at the pseudo-terminal's master.
    QByteArray atDevice;
    qsizetype sent = 0;
    const QDeadlineTimer deadline(120000);
    while (atDevice.size() < Size && !deadline.hasExpired()) {
        if (sent < Size && port->pendingOutput() == 0) {
            port->Output(payload.mid(sent, 4096));
            sent += 4096;
        }
        atDevice += peer->read(Size - atDevice.size(), 5);
    }
    EXPECT_EQ(QCryptographicHash::hash(atDevice, QCryptographicHash::Sha256), expected)
        << atDevice.size() << " bytes arrived";

    // In: written at the master as the line takes it, while the console reads.
    qsizetype written = 0;
    while (received.size() < Size && !deadline.hasExpired()) {
        if (written < Size) {
            const ssize_t n = ::write(peer->master(), payload.constData() + written,
                                      size_t(std::min<qsizetype>(Size - written, 4096)));
            if (n > 0)
                written += n;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    EXPECT_EQ(QCryptographicHash::hash(received, QCryptographicHash::Sha256), expected)
        << received.size() << " bytes arrived";
}

// A local address that takes no connection: a listening socket that is never accepted, whose
// backlog is already full, so that the console's connection attempt hears nothing.
class Blackhole {
public:
    Blackhole()
    {
        testing::LoopbackListener listener(0);
        listener_ = listener.release();
        port_ = listener.port();
        sockaddr_in address = listener.address;
        for (int& filler : fillers_) {
            filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~Blackhole()
    {
        for (const int filler : fillers_)
            ::close(filler);
        ::close(listener_);
    }
    Blackhole(const Blackhole&) = delete;
    Blackhole& operator=(const Blackhole&) = delete;

    quint16 port() const { return port_; }

private:
    int listener_ = -1;
    int fillers_[4] = {};
    quint16 port_ = 0;
};

class AgainstABlackhole : public EndToEnd {};

TEST_F(AgainstABlackhole, ConnectingNeverHoldsTheWindow)
{
    Blackhole hole;
    const QString device = QStringLiteral("tcp:127.0.0.1:%1").arg(hole.port());
    ASSERT_NO_FATAL_FAILURE(startConsole(device));
    QStringList faults;
    const auto onFault = port->OnFault;
    port->OnFault = [&](const QString& text) {
        faults << text;
        onFault(text);
    };

    // Choosing COM1 again reopens the port: it starts a new attempt and returns at once.
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(form->Option1, Qt::LeftButton);
    EXPECT_LT(clock.elapsed(), 50);
    EXPECT_TRUE(port->PortOpen());

    // Clicks on other buttons while it connects: each handled within 50 ms of being due.
    const LoopLatency latency;
    qint64 slowestClickMs = 0;
    QTimer clicker;
    clicker.setInterval(20);
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        QElapsedTimer handling;
        handling.start();
        click("Command34"); // the data view on and off
        slowestClickMs = std::max(slowestClickMs, handling.elapsed());
    });
    clicker.start();
    runFor(2000);
    clicker.stop();
    EXPECT_TRUE(port->deviceLost()) << "the blackhole answered";
    EXPECT_LT(latency.worstMs(), 50);
    EXPECT_LT(slowestClickMs, 50);

    // The time box ends the attempt and says so once.
    EXPECT_TRUE(waitUntil([&] { return !faults.isEmpty(); }));
    ASSERT_EQ(faults.size(), 1);
    EXPECT_TRUE(
        faults.front().startsWith(QStringLiteral("COM1 (%1): no answer within").arg(device)))
        << faults.front().toStdString();
}

} // namespace
} // namespace qx200::testing
