#include "console/DeviceLock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace qx200 {
namespace {

bool alive(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// A UUCP lock file holds the PID as ten ASCII digits and a newline (or, in older programs, as
// a binary int); Qt's own lock files start with the PID on the first line too.
qint64 pidInLockFile(const QByteArray& contents)
{
    bool ok = false;
    const qint64 pid = contents.split('\n').value(0).trimmed().toLongLong(&ok);
    if (ok)
        return pid;
    if (contents.size() == int(sizeof(int))) {
        int binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        return binary;
    }
    return 0;
}

} // namespace

std::optional<DeviceHolder> lockFileHolder(const QString& devicePath, const QString& lockDir)
{
    // "/dev/ttyS0" -> "LCK..ttyS0", "/dev/pts/3" -> "LCK..pts_3"
    QString name = devicePath;
    if (name.startsWith(QStringLiteral("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile lock(lockDir + QStringLiteral("/LCK..") + name);
    if (!lock.open(QIODevice::ReadOnly))
        return std::nullopt;
    const qint64 pid = pidInLockFile(lock.read(256));
    if (!alive(pid) || pid == ::getpid())
        return std::nullopt;
    return DeviceHolder{pid, programOf(pid)};
}

QString inUseText(const DeviceHolder& holder)
{
    QString text = QStringLiteral("in use by another program");
    if (holder.pid > 0) {
        text += QStringLiteral(" (PID %1").arg(holder.pid);
        if (!holder.program.isEmpty())
            text += QStringLiteral(", ") + holder.program;
        text += QLatin1Char(')');
    }
    return text;
}

QString DeviceLock::acquire(const QString& devicePath)
{
    release();
    const int fd = ::open(QFile::encodeName(devicePath).constData(),
                          O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? inUseText({}) : QString::fromLocal8Bit(std::strerror(error));
    }
    fd_ = fd;
    return {};
}

void DeviceLock::release()
{
    if (fd_ >= 0)
        ::close(fd_); // also drops the flock
    fd_ = -1;
}

} // namespace qx200
