#include "serial/QtSerialPort.h"
#include "console/port/DeviceResolution.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"
#include "support/Refusal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <unistd.h>

namespace qx200 {
namespace {

using testing::openingRefusal;
using testing::processorShareWhileRunning;
using testing::PseudoTerminal;

struct SettingsCase {
    const char* text;
    bool valid;
    qint32 baud;
};

class SettingsText : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsText, ParsesTheFourFields)
{
    const auto parsed = parseSettings(GetParam().text);
    ASSERT_EQ(parsed.has_value(), GetParam().valid);
    if (parsed) {
        EXPECT_EQ(parsed->baud, GetParam().baud);
        EXPECT_EQ(parsed->parity, QSerialPort::NoParity);
        EXPECT_EQ(parsed->dataBits, QSerialPort::Data8);
        EXPECT_EQ(parsed->stopBits, QSerialPort::OneStop);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingsText,
    ::testing::Values(SettingsCase{"19200,N,8,1", true, 19200},
                      SettingsCase{"9600,N,8,1", true, 9600},
                      SettingsCase{"9600,n,8,1", true, 9600}, SettingsCase{"9600,N,8", false, 0},
                      SettingsCase{"fast,N,8,1", false, 0}, SettingsCase{"9600,X,8,1", false, 0},
                      SettingsCase{"9600,N,9,1", false, 0}, SettingsCase{"9600,N,8,3", false, 0},
                      SettingsCase{"", false, 0}),
    [](const auto& param) {
        std::string name;
        for (const char c : std::string(param.param.text))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name.empty() ? std::string("empty") : name;
    });

// The real service on a pseudo-terminal reached through a link, as QX200_COM1 names it.
class QtSerialPortOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QX200_COM1", pty.link().toLocal8Bit());
        port.OnComm = [this] {
            ++events;
            if (port.CommEvent() == SerialPort::ReceiveEvent)
                received += port.Input();
        };
        port.CommPort(1);
        port.Settings("19200,N,8,1");
        port.PortOpen(true);
    }
    void TearDown() override
    {
        port.PortOpen(false);
        qunsetenv("QX200_COM1");
    }
    void waitForReceived(qsizetype count)
    {
        QDeadlineTimer deadline(5000);
        while (received.size() < count && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    PseudoTerminal pty;
    QtSerialPort port{devicePathFor};
    QByteArray received;
    int events = 0;
};

TEST_F(QtSerialPortOnPty, CarriesBytesBothWaysUnchanged)
{
    ASSERT_TRUE(port.PortOpen());
    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));

    port.Output("C00\r");
    EXPECT_EQ(pty.read(4, 5000), QByteArray("C00\r"));

    pty.write(everyByte);
    waitForReceived(everyByte.size());
    EXPECT_EQ(received, everyByte);
    EXPECT_GE(events, 1);
}

// A click's line must not wait for the event loop to come round (a repaint, other events).
TEST_F(QtSerialPortOnPty, HandsALineToTheDeviceBeforeReturning)
{
    port.Output("C00\r");
    pollfd ready{pty.master(), POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 1000), 1) << "nothing readable without an event-loop turn";
    char bytes[16];
    EXPECT_EQ(QByteArray(bytes, ::read(pty.master(), bytes, sizeof bytes)), "C00\r");
}

TEST_F(QtSerialPortOnPty, AppliesSettingsAtOnceToTheOpenPort)
{
    const termios before = pty.slaveAttributes();
    EXPECT_EQ(cfgetospeed(&before), speed_t(B19200));
    port.Settings("9600,N,8,1");
    EXPECT_TRUE(port.PortOpen());
    const termios attributes = pty.slaveAttributes();
    EXPECT_EQ(cfgetospeed(&attributes), speed_t(B9600));
    EXPECT_EQ(attributes.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(attributes.c_cflag & (PARENB | CSTOPB), tcflag_t(0));
}

TEST_F(QtSerialPortOnPty, RefusesToChangePortOrOpenTwiceWhileOpen)
{
    EXPECT_THROW(port.CommPort(2), PortError);
    EXPECT_THROW(port.PortOpen(true), PortError);
    port.PortOpen(false);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_NO_THROW(port.PortOpen(false)); // closing a closed port is no error
    EXPECT_THROW(port.Output("C00\r"), PortError);
}

TEST(QtSerialPortFailure, NamesPortAndDeviceWhenTheDeviceIsMissing)
{
    qputenv("QX200_COM2", "/nonexistent/ttyX");
    QtSerialPort port{devicePathFor};
    port.CommPort(2);
    port.Settings("19200,N,8,1");
    EXPECT_EQ(openingRefusal(port),
              QStringLiteral("COM2 (/nonexistent/ttyX): No such file or directory"));
    EXPECT_FALSE(port.PortOpen());
    qunsetenv("QX200_COM2");
}

TEST(QtSerialPortHangUp, ClosesAtOnceTellsOnceAndComesBackWithTheDevice)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    auto pty = std::make_unique<PseudoTerminal>(link);
    qputenv("QX200_COM1", link.toLocal8Bit());
    QtSerialPort port{devicePathFor};
    QStringList faults;
    QByteArray received;
    port.OnFault = [&](const QString& text) { faults << text; };
    port.OnComm = [&] { received += port.Input(); };
    port.CommPort(1);
    port.Settings("19200,N,8,1");
    port.PortOpen(true);

    pty->hangUp();
    EXPECT_LT(processorShareWhileRunning(1500), 0.2) << "error storm after the hang-up";
    ASSERT_EQ(faults.size(), 1);
    EXPECT_EQ(faults.front(), QStringLiteral("COM1 (%1): device disconnected").arg(link));
    EXPECT_TRUE(port.PortOpen()); // still the console's open port
    EXPECT_TRUE(port.deviceLost());
    EXPECT_NO_THROW(port.Output("CR0\r")); // goes nowhere while the device is away

    pty = std::make_unique<PseudoTerminal>(link); // plugged in again
    QDeadlineTimer deadline(15000);
    while (port.deviceLost() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_FALSE(port.deviceLost());
    port.Output("CR0\r");
    EXPECT_EQ(pty->read(4, 5000), QByteArray("CR0\r"));
    pty->write("80\r");
    deadline = QDeadlineTimer(15000);
    while (received.size() < 3 && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(received, QByteArray("80\r"));
    EXPECT_EQ(faults.size(), 1);
    port.PortOpen(false);
    qunsetenv("QX200_COM1");
}

TEST(QtSerialPortHeld, RefusesADeviceAnotherConsoleHasOpen)
{
    PseudoTerminal pty;
    qputenv("QX200_COM1", pty.link().toLocal8Bit());
    QtSerialPort first{devicePathFor};
    QtSerialPort second{devicePathFor};
    first.CommPort(1);
    first.Settings("19200,N,8,1");
    first.PortOpen(true);
    second.CommPort(1);
    second.Settings("19200,N,8,1");
    EXPECT_TRUE(openingRefusal(second).contains(QStringLiteral("in use by another program")));
    // The holder keeps its port.
    first.Output("C00\r");
    EXPECT_EQ(pty.read(4, 5000), QByteArray("C00\r"));
    first.PortOpen(false);
    EXPECT_NO_THROW(second.PortOpen(true));
    second.PortOpen(false);
    qunsetenv("QX200_COM1");
}

TEST(QtSerialPortHeld, RefusesADeviceNamedByALiveLockFile)
{
    PseudoTerminal pty;
    QTemporaryDir locks;
    QString name = pty.slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile lock(locks.filePath(QStringLiteral("LCK..") + name));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write(QStringLiteral("%1\n").arg(::getppid(), 10).toLatin1()); // a live process
    lock.close();

    qputenv("QX200_COM1", pty.link().toLocal8Bit());
    QtSerialPort port{devicePathFor};
    port.lockDirectories = {locks.path()};
    port.CommPort(1);
    port.Settings("19200,N,8,1");
    const QString refusal = openingRefusal(port);
    EXPECT_TRUE(
        refusal.contains(QStringLiteral("in use by another program (PID %1").arg(::getppid())))
        << refusal.toStdString();
    EXPECT_TRUE(QFile::exists(lock.fileName())); // the holder's lock stays

    // A stale lock (no such process) does not keep the port.
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly | QIODevice::Truncate));
    lock.write("2147483646\n");
    lock.close();
    EXPECT_NO_THROW(port.PortOpen(true));
    port.PortOpen(false);
    qunsetenv("QX200_COM1");
}

} // namespace
} // namespace qx200
