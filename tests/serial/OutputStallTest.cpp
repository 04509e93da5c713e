// A device that stops reading for a while (flow stopped, a serial server's buffer full) is not a
// lost one: the console keeps its port, drops whole lines it cannot queue, says how many, and
// carries on when the device reads again.

#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"
#include "support/EventLoop.h"
#include "support/PseudoTerminal.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using testing::PseudoTerminal;
using testing::runFor;

TEST(OutputStall, DropsWholeLinesWhileTheDeviceDoesNotReadAndResumes)
{
    PseudoTerminal pty; // its master reads nothing until told
    qputenv("QX200_COM1", pty.link().toLocal8Bit());
    QtSerialPort port{devicePathFor};
    QStringList faults;
    int recoveries = 0;
    port.OnFault = [&](const QString& text) { faults << text; };
    port.OnRecover = [&] { ++recoveries; };
    port.CommPort(1);
    port.Settings("19200,N,8,1");
    port.PortOpen(true);

    // A held arrow at its fastest repeat, with a few lines per tick so that the queue fills.
    int sent = 0;
    QTimer repeat;
    repeat.setInterval(5);
    QObject::connect(&repeat, &QTimer::timeout, [&] {
        for (int i = 0; i < 8; ++i)
            port.Output(QStringLiteral("L%1\r").arg(sent++, 6, 10, QLatin1Char('0')).toLatin1());
    });
    repeat.start();
    runFor(30000);
    repeat.stop();
    runFor(100); // the last count is told

    EXPECT_TRUE(port.PortOpen());
    EXPECT_FALSE(port.deviceLost()) << faults.join('\n').toStdString();
    ASSERT_FALSE(faults.isEmpty());
    const auto shown = QRegularExpression(QStringLiteral("^COM1 \\(.*\\): device not reading, "
                                                         "(\\d+) line\\(s\\) not sent$"))
                           .match(faults.back());
    ASSERT_TRUE(shown.hasMatch()) << faults.back().toStdString();
    EXPECT_EQ(recoveries, 0);

    // The device reads again: everything queued arrives, and the notice ends.
    QByteArray arrived;
    QDeadlineTimer deadline(30000);
    while ((recoveries == 0 || port.pendingOutput() > 0) && !deadline.hasExpired())
        arrived += pty.read(1 << 20, 50);
    arrived += pty.read(1 << 20, 200);
    EXPECT_EQ(recoveries, 1);

    QList<QByteArray> lines = arrived.split('\r');
    ASSERT_TRUE(lines.takeLast().isEmpty()) << "the last line arrived cut";
    int previous = -1;
    for (const QByteArray& line : lines) {
        ASSERT_TRUE(QRegularExpression(QStringLiteral("^L\\d{6}$")).match(line).hasMatch())
            << "a cut line: " << line.toStdString();
        const int number = line.mid(1).toInt();
        ASSERT_GT(number, previous) << "out of order or sent twice";
        previous = number;
    }
    EXPECT_EQ(sent - int(lines.size()), shown.captured(1).toInt());

    // Lines go out at once again.
    port.Output("C3C\r");
    EXPECT_EQ(pty.read(4, 5000), QByteArray("C3C\r"));
    port.PortOpen(false);
    qunsetenv("QX200_COM1");
}

} // namespace
} // namespace qx200
