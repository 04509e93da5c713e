// The console program itself, started as a child process on a pseudo-terminal: how it ends on a
// signal, and how it refuses to start without a display.

#include "e2e/FaultSupport.h"
#include "support/PseudoTerminal.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::testing {
namespace {

QProcess* startConsole(QProcess& process, const QProcessEnvironment& environment)
{
    process.setProgram(QStringLiteral(QX200_CONTROL_PATH));
    process.setProcessEnvironment(environment);
    process.start();
    return process.waitForStarted(10000) ? &process : nullptr;
}

// Whether the tty is held for exclusive use. Without the privilege to ignore the flag an open
// fails with EBUSY; with it (root) the flag is read back.
bool exclusive(const QString& tty)
{
    const int fd = ::open(QFile::encodeName(tty).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == EBUSY;
    int flag = 0;
    ::ioctl(fd, TIOCGEXCL, &flag);
    ::close(fd);
    return flag != 0;
}

bool sameSettings(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetispeed(&a) == cfgetispeed(&b) &&
           cfgetospeed(&a) == cfgetospeed(&b) && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

struct StopSignal {
    const char* name;
    int signal;
};

void PrintTo(const StopSignal& s, std::ostream* os)
{
    *os << s.name;
}

class ConsoleSignal : public ::testing::TestWithParam<StopSignal> {};

TEST_P(ConsoleSignal, QuitsAsByEndAndGivesTheLineBack)
{
    PseudoTerminal line;
    termios before = line.slaveAttributes();
    cfsetispeed(&before, B4800); // a speed the console never uses, to see it put back
    cfsetospeed(&before, B4800);
    ::tcsetattr(line.master(), TCSANOW, &before);
    before = line.slaveAttributes();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QX200_COM1"), line.link());
    QProcess console;
    console.setProcessChannelMode(QProcess::ForwardedChannels);
    ASSERT_TRUE(startConsole(console, environment));
    const qint64 pid = console.processId();

    ASSERT_TRUE(waitUntil([&] { return exclusive(line.slavePath()); }, 10000))
        << "the console did not open the line";
    ASSERT_TRUE(waitUntil([&] { return !lockFilesNaming(pid).isEmpty(); }, 5000))
        << "the console holds the line without a lock file";
    EXPECT_FALSE(sameSettings(line.slaveAttributes(), before)) << "the console set nothing";

    ::kill(pid_t(pid), GetParam().signal);
    ASSERT_TRUE(console.waitForFinished(10000)) << "the console did not end";

    EXPECT_EQ(console.exitStatus(), QProcess::NormalExit) << "ended by the signal";
    EXPECT_EQ(console.exitCode(), 0);
    EXPECT_TRUE(lockFilesNaming(pid).isEmpty()) << lockFilesNaming(pid).join(' ').toStdString();
    EXPECT_FALSE(exclusive(line.slavePath()));
    EXPECT_TRUE(sameSettings(line.slaveAttributes(), before)) << "the line settings stayed changed";
}

INSTANTIATE_TEST_SUITE_P(Signals, ConsoleSignal,
                         ::testing::Values(StopSignal{"Terminate", SIGTERM},
                                           StopSignal{"Interrupt", SIGINT},
                                           StopSignal{"HangUp", SIGHUP}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(ConsoleStart, ASignalDuringTheStartUpMessageEndsIt)
{
    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QX200_COM1"), dir.filePath(QStringLiteral("missing")));
    QProcess console;
    ASSERT_TRUE(startConsole(console, environment));
    // The start-up failure waits in a modal message box for an operator who never comes.
    EXPECT_FALSE(console.waitForFinished(1000));

    ::kill(pid_t(console.processId()), SIGTERM);
    ASSERT_TRUE(console.waitForFinished(10000)) << "the console did not end";
    EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(console.exitCode(), 0);
}

// Launched from a desktop menu nobody reads stderr: a malformed device is also shown in a box,
// and the console ends with 1 once it is closed (here by a stop signal).
TEST(ConsoleStart, AMalformedDeviceIsShownInABoxBeforeEndingWithOne)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QX200_COM1"), QStringLiteral("tcp:serial-server"));
    QProcess console;
    ASSERT_TRUE(startConsole(console, environment));
    EXPECT_FALSE(console.waitForFinished(1000)) << "ended without showing the reason";
    EXPECT_TRUE(console.readAllStandardError().contains("tcp:serial-server"));

    ::kill(pid_t(console.processId()), SIGTERM);
    ASSERT_TRUE(console.waitForFinished(10000)) << "the box did not close";
    EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(console.exitCode(), 1);
}

TEST(ConsoleStart, WithoutADisplaySaysSoInOneLineAndEndsWithOne)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    QProcess console;
    ASSERT_TRUE(startConsole(console, environment));
    ASSERT_TRUE(console.waitForFinished(10000));

    const QByteArray said = console.readAllStandardError();
    EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(console.exitCode(), 1);
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("set DISPLAY")) << said.toStdString();
}

} // namespace
} // namespace qx200::testing
