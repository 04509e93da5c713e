// The console's refusal of a port the projector service holds says how to attach instead, from
// the file the service leaves in its run-time folder.

#include "serial/ConsoleAddresses.h"
#include "serial/DeviceLock.h"
#include "serial/ServicePaths.h"
#include "support/ScopedVariable.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using testing::ScopedVariable;

class ConsoleHint : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile(device).open(QIODevice::WriteOnly));
        ASSERT_TRUE(QFile::link(device, byId));
    }

    QTemporaryDir dir;
    const QByteArray runtime = dir.filePath(QStringLiteral("run")).toLocal8Bit();
    ScopedVariable xdg{"XDG_RUNTIME_DIR", &runtime};
    ScopedVariable systemd{"RUNTIME_DIRECTORY", nullptr};
    const QString device = dir.filePath(QStringLiteral("ttyUSB0"));
    const QString byId = dir.filePath(QStringLiteral("usb-FTDI-A1B2C3-if00-port0"));
    const QString other = dir.filePath(QStringLiteral("ttyUSB1"));
};

TEST_F(ConsoleHint, NamesTheServicesConsoleAddressForItsDevice)
{
    EXPECT_EQ(inUseText({42, QStringLiteral("qx200d")}, device),
              "in use by another program (PID 42, qx200d)")
        << "no file yet";

    ASSERT_EQ(writeConsoleAddresses(serviceRuntimeDirectory(),
                                    {{QStringLiteral("tcp:server:4001"), "127.0.0.1:4661"},
                                     {byId, "127.0.0.1:4660"},
                                     {other, "[::1]:4662"}}),
              QString());
    EXPECT_TRUE(QFile::exists(QString::fromLocal8Bit(runtime) + "/qx200d/consoles"));

    struct Case {
        const char* program;
        QString path;
        const char* text;
    };
    const Case cases[] = {
        {"qx200d", device,
         "in use by another program (PID 42, qx200d): attach with --com1 tcp:127.0.0.1:4660"},
        {"qx200d", byId,
         "in use by another program (PID 42, qx200d): attach with --com1 tcp:127.0.0.1:4660"},
        {"qx200d", dir.filePath(QStringLiteral("ttyS0")),
         "in use by another program (PID 42, "
         "qx200d)"},
        {"minicom", device, "in use by another program (PID 42, minicom)"},
        {"qx200d", QStringLiteral("tcp:server:4001"), "in use by another program (PID 42, qx200d)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(inUseText({42, QString::fromLatin1(c.program)}, c.path), c.text)
            << c.program << " " << c.path.toStdString();
}

} // namespace
} // namespace qx200
