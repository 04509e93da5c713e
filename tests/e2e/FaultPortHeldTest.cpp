// A port that somebody else holds, or that the user may not open, seen from a console in a
// process of its own (the qx200-probe program, built next to this test): it is refused with a
// text naming the holder where the system tells it, and the holder keeps its port.

#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"
#include "support/PseudoTerminal.h"
#include "support/Refusal.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::testing {
namespace {

struct ProbeResult {
    int exitCode = -1;
    std::string said; // its first line: "open" or the failure's text
};

class FaultPortHeld : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Reachable by any user, so that the probe may run as one without rights.
        QFile::setPermissions(QFileInfo(line.link()).path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                  QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                  QFile::ExeOther);
        ASSERT_TRUE(QFileInfo(probePath()).isExecutable()) << probePath().toStdString();
    }

    static QString probePath()
    {
        return QCoreApplication::applicationDirPath() + QStringLiteral("/qx200-probe");
    }

    // The probe's way of dropping to the user "nobody"; empty with the reason in `why` when
    // that cannot be done here.
    QStringList asNobody(std::string& why) const
    {
        if (::geteuid() != 0) {
            why = "the suite does not run as root, so it cannot act as another user";
            return {};
        }
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty() || ::getpwnam("nobody") == nullptr) {
            why = "setpriv or the user 'nobody' is missing";
            return {};
        }
        const QStringList prefix{setpriv, QStringLiteral("--reuid=nobody"),
                                 QStringLiteral("--regid=nogroup"),
                                 QStringLiteral("--clear-groups")};
        // A port that does not exist: the probe must run and say so.
        if (!runProbe({QStringLiteral("--port"), QStringLiteral("99")}, prefix)
                 .said.starts_with("COM99")) {
            why = "the user 'nobody' cannot run " + probePath().toStdString();
            return {};
        }
        return prefix;
    }

    // Runs the probe on COM1 = the test's line, as this user or behind `prefix`.
    ProbeResult runProbe(const QStringList& args, const QStringList& prefix = {}) const
    {
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QX200_COM1"), line.link());
        probe.setProcessEnvironment(environment);
        const QStringList command = prefix + QStringList{probePath()} + args;
        probe.start(command.front(), command.mid(1));
        if (!probe.waitForFinished(15000))
            probe.kill();
        return {probe.exitCode(), probe.readAllStandardOutput().split('\n').front().toStdString()};
    }

    std::string refusal(const QString& reason) const
    {
        return QStringLiteral("COM1 (%1): %2").arg(line.link(), reason).toStdString();
    }
    static QString inUseBy(qint64 pid, const QString& program)
    {
        return QStringLiteral("in use by another program (PID %1, %2)").arg(pid).arg(program);
    }
    static QString ownProgram()
    {
        QFile comm(QStringLiteral("/proc/self/comm"));
        return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll()).trimmed()
                                              : QString();
    }

    // A descriptor of the test's own on the console's side of the line.
    int openSlave() const
    {
        return ::open(QFile::encodeName(line.slavePath()).constData(),
                      O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    }
    // Whether bytes written on a holder's descriptor still reach the far end.
    bool carries(int fd, const QByteArray& bytes) const
    {
        return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
               line.read(bytes.size(), 5000) == bytes;
    }

    PseudoTerminal line;
};

TEST_F(FaultPortHeld, BySecondConsoleInAnotherProcess)
{
    QProcess holder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QX200_COM1"), line.link());
    holder.setProcessEnvironment(environment);
    holder.start(probePath(), {QStringLiteral("--hold-ms"), QStringLiteral("1500"),
                               QStringLiteral("--send"), QStringLiteral("C00\\r")});
    ASSERT_TRUE(holder.waitForReadyRead(10000));
    ASSERT_EQ(holder.readLine().trimmed(), QByteArray("open"));

    qputenv("QX200_COM1", line.link().toLocal8Bit());
    QtSerialPort second{devicePathFor};
    second.CommPort(1);
    second.Settings("19200,N,8,1");
    EXPECT_EQ(openingRefusal(second).toStdString(),
              refusal(inUseBy(holder.processId(), QStringLiteral("qx200-probe"))));
    EXPECT_FALSE(second.PortOpen());

    // The holder still writes on its port, then lets it go; now the second console gets it.
    EXPECT_EQ(line.read(4, 10000), QByteArray("C00\r"));
    ASSERT_TRUE(holder.waitForFinished(10000));
    EXPECT_EQ(holder.exitCode(), 0);
    EXPECT_NO_THROW(second.PortOpen(true));
    second.PortOpen(false);
    qunsetenv("QX200_COM1");
}

// A program that writes a lock file ("LCK..pts_3") and nothing else: the PID as ten ASCII
// digits and a newline, or, in older programs, as a binary int.
class FaultPortHeldByLockFile : public FaultPortHeld, public ::testing::WithParamInterface<bool> {};

TEST_P(FaultPortHeldByLockFile, NamesTheProgramAndLeavesItsLock)
{
    QProcess program; // a live process of another name
    program.start(QStandardPaths::findExecutable(QStringLiteral("sleep")), {QStringLiteral("30")});
    ASSERT_TRUE(program.waitForStarted());
    const qint64 pid = program.processId();

    QTemporaryDir locks;
    const QString name = line.slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile lock(locks.filePath(QStringLiteral("LCK..") + name));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    QByteArray contents = QStringLiteral("%1\n").arg(pid, 10).toLatin1();
    if (GetParam()) {
        const int binary = int(pid);
        contents = QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary);
    }
    lock.write(contents);
    lock.close();

    const ProbeResult probe = runProbe({QStringLiteral("--lock-dir"), locks.path()});
    EXPECT_EQ(probe.exitCode, 1);
    EXPECT_EQ(probe.said, refusal(inUseBy(pid, QStringLiteral("sleep"))));
    ASSERT_TRUE(lock.open(QIODevice::ReadOnly));
    EXPECT_EQ(lock.readAll(), contents);
    program.kill();
    program.waitForFinished();
}

INSTANTIATE_TEST_SUITE_P(Formats, FaultPortHeldByLockFile, ::testing::Bool(),
                         [](const auto& format) {
                             return std::string(format.param ? "BinaryPid" : "AsciiPid");
                         });

TEST_F(FaultPortHeld, ByAnExclusiveLockOnTheDevice)
{
    const int holder = openSlave();
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);

    const ProbeResult probe = runProbe({});
    EXPECT_EQ(probe.exitCode, 1);
    EXPECT_EQ(probe.said, refusal(inUseBy(::getpid(), ownProgram())));

    // The lock is still the holder's, and so is the line.
    const int other = openSlave();
    EXPECT_EQ(::flock(other, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    ::close(other);
    EXPECT_TRUE(carries(holder, "C00\r"));
    ::close(holder);
}

TEST_F(FaultPortHeld, ByAProgramInExclusiveModeForAnotherUser)
{
    std::string why;
    const QStringList nobody = asNobody(why);
    if (nobody.isEmpty())
        GTEST_SKIP() << why;
    // The device is the other user's to open, but a program has it in exclusive mode, which
    // only the superuser passes.
    const passwd* user = ::getpwnam("nobody");
    ASSERT_EQ(::chown(QFile::encodeName(line.slavePath()).constData(), user->pw_uid, gid_t(-1)), 0);
    const int holder = openSlave();
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);

    const ProbeResult probe = runProbe({}, nobody);
    EXPECT_EQ(probe.exitCode, 1);
    EXPECT_EQ(probe.said, refusal(QStringLiteral("in use by another program")));
    EXPECT_TRUE(carries(holder, "C00\r"));
    ::close(holder);
}

TEST_F(FaultPortHeld, WithoutTheRightsTheUserIsPointedToTheGroup)
{
    std::string why;
    const QStringList nobody = asNobody(why);
    if (nobody.isEmpty())
        GTEST_SKIP() << why;
    // The pseudo-terminal belongs to root with no rights for others, as /dev/ttyS0 belongs to
    // root and the dialout group.
    const ProbeResult probe = runProbe({}, nobody);
    EXPECT_EQ(probe.exitCode, 1);
    EXPECT_EQ(probe.said,
              refusal(QStringLiteral("Permission denied (is the user in the 'dialout' group?)")));
}

} // namespace
} // namespace qx200::testing
