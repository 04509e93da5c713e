#include "console/port/PortList.h"

#include "support/PseudoTerminal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace qx200 {
namespace {

struct LineCase {
    const char* name;
    SerialDeviceInfo device;
    const char* expected;
};

class PortLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(PortLine, ShowsWhatIsKnownOnOneLine)
{
    EXPECT_EQ(portLine(GetParam().device).toStdString(), GetParam().expected);
}

const QString ById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

const LineCase LineCases[] = {
    {"UsbAdapter",
     {"/dev/ttyUSB0", ById, "ftdi_sio", "0403:6001", "A1B2C3", std::nullopt},
     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 -> /dev/ttyUSB0  driver "
     "ftdi_sio  usb 0403:6001  serial A1B2C3"},
    {"HeldUsbAdapter",
     {"/dev/ttyUSB0", ById, "ftdi_sio", "0403:6001", "A1B2C3", DeviceHolder{4242, "minicom"}},
     "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0 -> /dev/ttyUSB0  driver "
     "ftdi_sio  usb 0403:6001  serial A1B2C3  in use by another program (PID 4242, minicom)"},
    {"BuiltInPort",
     {"/dev/ttyS0", {}, "serial", {}, {}, std::nullopt},
     "/dev/ttyS0  driver serial"},
    {"PseudoTerminalHeldByAnUnknownProgram",
     {"/dev/pts/7", {}, {}, {}, {}, DeviceHolder{}},
     "/dev/pts/7  in use by another program"},
};

INSTANTIATE_TEST_SUITE_P(Devices, PortLine, ::testing::ValuesIn(LineCases),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

// A pseudo-terminal stands in for an adapter: a by-id folder of the test's own links to it,
// and the holders the console itself would meet.
class PortOnPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        places.byIdDir = byId.path();
        places.lockDirs = {locks.path()};
        ASSERT_TRUE(QFile::link(pty.slavePath(), byId.filePath("usb-Test_Adapter_T1-if00-port0")));
        ASSERT_TRUE(QFile::link("/dev/null", byId.filePath("usb-Other_O1-if00-port0")));
    }

    qx200::testing::PseudoTerminal pty;
    QTemporaryDir byId;
    QTemporaryDir locks;
    PortListPlaces places;
};

TEST_F(PortOnPty, FindsItsByIdNameAndNoHolderWhenFree)
{
    const SerialDeviceInfo info = describeSerialDevice(pty.slavePath(), places);
    EXPECT_EQ(info.tty, pty.slavePath());
    EXPECT_EQ(info.byId, byId.filePath("usb-Test_Adapter_T1-if00-port0"));
    EXPECT_EQ(info.driver, QString()); // a pseudo-terminal has no device in /sys
    EXPECT_FALSE(info.holder);
}

TEST_F(PortOnPty, NamesTheProgramHoldingItsFlock)
{
    DeviceLock lock;
    ASSERT_EQ(lock.acquire(pty.slavePath()), QString());
    const SerialDeviceInfo info = describeSerialDevice(pty.slavePath(), places);
    ASSERT_TRUE(info.holder);
    EXPECT_EQ(info.holder->pid, qint64(::getpid()));
    EXPECT_TRUE(portLine(info).endsWith(QStringLiteral("in use by another program (PID %1, %2)")
                                            .arg(::getpid())
                                            .arg(info.holder->program)));
    lock.release();
    EXPECT_FALSE(describeSerialDevice(pty.slavePath(), places).holder);
}

TEST_F(PortOnPty, NamesTheProgramOfALockFile)
{
    // A lock file of a live process other than this one: the parent (the test runner's shell
    // or CTest) is alive for as long as the test runs.
    QFile lockFile(locks.filePath("LCK.." + pty.slavePath().mid(5).replace(u'/', u'_')));
    ASSERT_TRUE(lockFile.open(QIODevice::WriteOnly));
    lockFile.write(QByteArray::number(qint64(::getppid())).rightJustified(10, ' ') + '\n');
    lockFile.close();
    const SerialDeviceInfo info = describeSerialDevice(pty.slavePath(), places);
    ASSERT_TRUE(info.holder);
    EXPECT_EQ(info.holder->pid, qint64(::getppid()));
}

// What this machine offers: every port the serial library finds is listed once, under its
// tty, with the driver /sys names for it.
TEST(PortListOnThisMachine, ListsWhatTheSystemReports)
{
    const QList<SerialDeviceInfo> devices = findSerialDevices();
    const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
    ASSERT_EQ(devices.size(), ports.size());
    for (const SerialDeviceInfo& device : devices) {
        SCOPED_TRACE(device.tty.toStdString());
        EXPECT_TRUE(QFileInfo::exists(device.tty));
        EXPECT_FALSE(device.tty.startsWith(QStringLiteral("/dev/pts/")));
        EXPECT_TRUE(portLine(device).startsWith(device.byId.isEmpty() ? device.tty : device.byId));
        // Recent kernels put a serial-base port between the tty and its hardware; the driver
        // shown is the hardware's.
        EXPECT_NE(device.driver, QStringLiteral("port"));
        const QString sysDevice = "/sys/class/tty/" + QFileInfo(device.tty).fileName() + "/device";
        EXPECT_EQ(device.driver.isEmpty(), !QFileInfo::exists(sysDevice + "/driver"));
    }
}

} // namespace
} // namespace qx200
