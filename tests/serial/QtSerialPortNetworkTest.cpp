// The serial service on a network device that is not there or is malformed.

#include "serial/QtSerialPort.h"
#include "support/EventLoop.h"

#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using testing::runFor;

// A port on 127.0.0.1 on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost));
    return probe.serverPort();
}

TEST(QtSerialPortNetwork, RefusesAMalformedAddressAtOnce)
{
    QtSerialPort port([](std::int16_t) { return QStringLiteral("tcp:serial-server"); });
    try {
        port.PortOpen(true);
        FAIL() << "opened";
    } catch (const PortError& error) {
        EXPECT_EQ(error.text(), QStringLiteral("COM1: tcp:serial-server: expected HOST:PORT"));
    }
    EXPECT_FALSE(port.PortOpen());
}

// Opening starts connecting and returns; a server that is not running is told once, while the
// service keeps trying with a growing pause, and writes go nowhere meanwhile.
TEST(QtSerialPortNetwork, TellsARefusedConnectionOnceAndKeepsTrying)
{
    const QString device = QStringLiteral("tcp:127.0.0.1:%1").arg(closedPort());
    QtSerialPort port([&](std::int16_t) { return device; });
    QStringList faults;
    port.OnFault = [&](const QString& text) { faults << text; };
    port.Settings("19200,N,8,1");
    port.PortOpen(true);
    EXPECT_TRUE(port.PortOpen());
    EXPECT_TRUE(port.deviceLost());
    EXPECT_NO_THROW(port.Output("C00\r"));

    runFor(2500);
    ASSERT_EQ(faults.size(), 1);
    EXPECT_EQ(faults.front(), QStringLiteral("COM1 (%1): Connection refused (is the serial server "
                                             "running?)")
                                  .arg(device));

    // The server comes up: the service reaches it on its own.
    QTcpServer server;
    int recoveries = 0;
    port.OnRecover = [&] { ++recoveries; };
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, QStringView(device).mid(14).toUShort()));
    runFor(SerialLine::MaxBackoffMs + SerialLine::SettleMs + 1000);
    EXPECT_FALSE(port.deviceLost());
    EXPECT_EQ(recoveries, 1);
    EXPECT_EQ(faults.size(), 1);
    port.PortOpen(false);
}

// A server reached at the first try: the connecting port becomes usable, which the session record
// waits for before it writes "opened".
TEST(QtSerialPortNetwork, TellsTheFirstConnectionAsTheDeviceReached)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QtSerialPort port(
        [&](std::int16_t) { return QStringLiteral("tcp:127.0.0.1:%1").arg(server.serverPort()); });
    int recoveries = 0;
    port.OnRecover = [&] { recoveries += port.DeviceReady() ? 1 : 100; };
    port.PortOpen(true);
    EXPECT_FALSE(port.DeviceReady());

    runFor(SerialLine::SettleMs + 1000);
    EXPECT_EQ(recoveries, 1);
    port.PortOpen(false);
}

// A server that accepts, says it cannot open its device and hangs up, at every attempt: one
// failure, told with what the server said, and none of its words taken for the device's.
TEST(QtSerialPortNetwork, TellsOnceWhatAServerThatHangsUpSaid)
{
    QTcpServer server;
    bool refusing = true;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            if (!refusing)
                continue;
            client->write("Device open failure: Value or file not found\r\n");
            client->disconnectFromHost();
        }
    });
    const QString device = QStringLiteral("tcp:127.0.0.1:%1").arg(server.serverPort());
    QtSerialPort port([&](std::int16_t) { return device; });
    QStringList faults;
    int recoveries = 0;
    QByteArray received;
    port.OnFault = [&](const QString& text) { faults << text; };
    port.OnRecover = [&] { ++recoveries; };
    port.OnComm = [&] { received += port.Input(); };
    port.PortOpen(true);

    runFor(4000);
    ASSERT_EQ(faults.size(), 1) << faults.join('\n').toStdString();
    EXPECT_EQ(faults.front(), QStringLiteral("COM1 (%1): the serial server refused the connection: "
                                             "Device open failure: Value or file not found")
                                  .arg(device));
    EXPECT_EQ(recoveries, 0);
    EXPECT_TRUE(received.isEmpty()) << received.toStdString();

    refusing = false; // its device is back
    runFor(SerialLine::MaxBackoffMs + SerialLine::SettleMs + 1000);
    EXPECT_FALSE(port.deviceLost());
    EXPECT_EQ(recoveries, 1);
    EXPECT_EQ(faults.size(), 1);
    port.PortOpen(false);
}

} // namespace
} // namespace qx200
