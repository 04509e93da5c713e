#include "console/DeviceLock.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// The process holding a lock on the file (st_dev, st_ino), as /proc/locks lists it:
// "1: FLOCK  ADVISORY  WRITE 1234 00:19:4 0 EOF", the file system's major and minor number in
// hex, then the inode. Waiting requests ("1: -> FLOCK ...") hold nothing.
std::optional<DeviceHolder> lockHolder(const struct stat& file)
{
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray where = QByteArray::number(major(file.st_dev), 16).rightJustified(2, '0') +
                             ':' +
                             QByteArray::number(minor(file.st_dev), 16).rightJustified(2, '0') +
                             ':' + QByteArray::number(qulonglong(file.st_ino));
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6 || fields[1] == "->" || fields[5] != where)
            continue;
        const qint64 pid = fields[4].toLongLong();
        if (alive(pid))
            return DeviceHolder{pid, programOf(pid)};
    }
    return std::nullopt;
}

std::optional<DeviceHolder> lockHolder(int fd)
{
    struct stat file {};
    if (::fstat(fd, &file) != 0)
        return std::nullopt;
    return lockHolder(file);
}

std::optional<DeviceHolder> lockHolder(const QString& path)
{
    struct stat file {};
    if (::stat(QFile::encodeName(path).constData(), &file) != 0)
        return std::nullopt;
    return lockHolder(file);
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

std::optional<DeviceHolder> flockHolder(const QString& devicePath)
{
    return lockHolder(devicePath);
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
    if (fd < 0) {
        // EBUSY: another program opened the terminal in exclusive mode (TIOCEXCL).
        const int error = errno;
        return error == EBUSY ? inUseText(lockHolder(devicePath).value_or(DeviceHolder{}))
                              : QString::fromLocal8Bit(std::strerror(error));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const auto holder = error == EWOULDBLOCK ? lockHolder(fd) : std::nullopt;
        ::close(fd);
        return error == EWOULDBLOCK ? inUseText(holder.value_or(DeviceHolder{}))
                                    : QString::fromLocal8Bit(std::strerror(error));
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
