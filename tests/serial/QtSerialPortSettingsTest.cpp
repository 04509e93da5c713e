#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <termios.h>

namespace qx200 {
namespace {

using testing::PseudoTerminal;

// Settings the device refuses are not kept: the device comes back with the ones in force.
TEST(QtSerialPortSettings, RefusedSettingsAreNotKeptForTheNextOpening)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    auto pty = std::make_unique<PseudoTerminal>(link);
    qputenv("QX200_COM1", link.toLocal8Bit());
    QtSerialPort port{devicePathFor};
    port.CommPort(1);
    port.Settings("19200,N,8,1");
    port.PortOpen(true);

    pty->hangUp(); // the device refuses every setting from now on
    EXPECT_THROW(port.Settings("9600,N,8,1"), PortError);

    ASSERT_TRUE(testing::waitUntil([&] { return port.deviceLost(); }, 15000));
    pty = std::make_unique<PseudoTerminal>(link); // plugged in again
    ASSERT_TRUE(testing::waitUntil([&] { return !port.deviceLost(); }, 15000));
    const termios attributes = pty->slaveAttributes();
    EXPECT_EQ(cfgetospeed(&attributes), speed_t(B19200));
    port.PortOpen(false);
    qunsetenv("QX200_COM1");
}

} // namespace
} // namespace qx200
