#include "console/port/DeviceResolution.h"
#include "serial/QtSerialPort.h"
#include "support/PseudoTerminal.h"
#include "support/Refusal.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace qx200 {
namespace {

using testing::openingRefusal;
using testing::PseudoTerminal;

// What the console makes of a lock file in a lock directory for the device it opens.
enum class Verdict { Opens, Held, Unusable };

struct LockCase {
    const char* name;
    // Makes the lock file at the path; `pid` is a live process running "sleep".
    std::function<void(const QString& path, qint64 pid)> make;
    Verdict verdict;
};
void PrintTo(const LockCase& value, std::ostream* os)
{
    *os << value.name;
}

void writeFile(const QString& path, const QByteArray& contents)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}
QByteArray ascii(qint64 pid)
{
    return QStringLiteral("%1\n").arg(pid, 10).toLatin1();
}
QByteArray qtLock(qint64 pid, const char* program)
{
    return QByteArray::number(pid) + '\n' + program + "\nthishost\n";
}

const LockCase LockCases[] = {
    {"UucpAscii", [](const QString& path, qint64 pid) { writeFile(path, ascii(pid)); },
     Verdict::Held},
    {"UucpAsciiWithoutNewline",
     [](const QString& path, qint64 pid) { writeFile(path, QByteArray::number(pid)); },
     Verdict::Held},
    {"UucpBinary",
     [](const QString& path, qint64 pid) {
         const int binary = int(pid);
         writeFile(path, QByteArray(reinterpret_cast<const char*>(&binary), sizeof binary));
     },
     Verdict::Held},
    {"UucpDeadPid", [](const QString& path, qint64) { writeFile(path, ascii(2147483646)); },
     Verdict::Opens},
    {"HugePid", [](const QString& path, qint64) { writeFile(path, "4294967295\n"); },
     Verdict::Opens},
    {"QtLockOfTheSameProgram",
     [](const QString& path, qint64 pid) { writeFile(path, qtLock(pid, "sleep")); }, Verdict::Held},
    // The PID was reused by another program after the lock's writer died.
    {"QtLockOfAnotherProgram",
     [](const QString& path, qint64 pid) { writeFile(path, qtLock(pid, "bash")); }, Verdict::Opens},
    {"Empty", [](const QString& path, qint64) { writeFile(path, {}); }, Verdict::Unusable},
    {"Garbage", [](const QString& path, qint64) { writeFile(path, "hello, world\n"); },
     Verdict::Unusable},
    {"Fifo",
     [](const QString& path, qint64) {
         ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0644), 0);
     },
     Verdict::Unusable},
    {"LinkToDevZero",
     [](const QString& path, qint64) { ASSERT_TRUE(QFile::link("/dev/zero", path)); },
     Verdict::Unusable},
};

class LockFile : public ::testing::TestWithParam<LockCase> {
protected:
    void SetUp() override
    {
        holder.start(QStringLiteral("sleep"), {QStringLiteral("60")});
        ASSERT_TRUE(holder.waitForStarted());
        qputenv("QX200_COM1", pty.link().toLocal8Bit());
        port.lockDirectories = {locks.path()};
        port.CommPort(1);
        port.Settings("19200,N,8,1");
    }
    void TearDown() override
    {
        port.PortOpen(false);
        qunsetenv("QX200_COM1");
        holder.kill();
        holder.waitForFinished();
    }
    // "/dev/pts/3" -> LCK..pts_3
    QString lockPath() const
    {
        QString name = pty.slavePath().mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        return locks.filePath(QStringLiteral("LCK..") + name);
    }

    QProcess holder;
    PseudoTerminal pty;
    QTemporaryDir locks;
    QtSerialPort port{devicePathFor};
};

TEST_P(LockFile, OpensHoldsOrNamesTheFileToRemove)
{
    const LockCase& lock = GetParam();
    const QString path = lockPath();
    lock.make(path, holder.processId());
    const QString refusal = openingRefusal(port);
    switch (lock.verdict) {
    case Verdict::Opens:
        EXPECT_EQ(refusal, QStringLiteral("(opened)"));
        break;
    case Verdict::Held:
        EXPECT_EQ(refusal, QStringLiteral("COM1 (%1): in use by another program (PID %2, sleep)")
                               .arg(pty.link())
                               .arg(holder.processId()));
        break;
    case Verdict::Unusable:
        EXPECT_TRUE(refusal.contains(QStringLiteral("lock file ") + path)) << qPrintable(refusal);
        EXPECT_TRUE(refusal.contains(QStringLiteral("remove it"))) << qPrintable(refusal);
        break;
    }
    EXPECT_TRUE(QFileInfo(path).isSymLink() || QFileInfo::exists(path)) << "a lock file removed";
}

INSTANTIATE_TEST_SUITE_P(Cases, LockFile, ::testing::ValuesIn(LockCases),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace qx200
