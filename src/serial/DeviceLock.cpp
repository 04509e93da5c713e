#include "serial/DeviceLock.h"

#include "serial/ConsoleAddresses.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QLockFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qx200 {
namespace {

// A PID outside pid_t's range names no process; narrowed unchecked, 4294967295 would become
// kill(-1, 0), which asks about every process.
bool alive(qint64 pid)
{
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max() &&
           (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString programOf(qint64 pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

// Lock directories are writable by every user, so a lock file is read with care: no link is
// followed, a FIFO is not waited on, and no more than this is read.
constexpr qsizetype MaxLockFileBytes = 512;

struct LockFileContents {
    QByteArray bytes;
    QString unreadable; // why the file cannot be read as a lock file; empty when it can
};

// Nothing when there is no lock file at the path.
std::optional<LockFileContents> readLockFile(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT)
            return std::nullopt;
        return LockFileContents{{},
                                error == ELOOP ? QStringLiteral("a symbolic link")
                                               : QString::fromLocal8Bit(std::strerror(error))};
    }
    LockFileContents contents;
    struct stat file {};
    if (::fstat(fd, &file) != 0 || !S_ISREG(file.st_mode)) {
        contents.unreadable = QStringLiteral("not a regular file");
    } else {
        contents.bytes.resize(MaxLockFileBytes);
        const ssize_t n = ::read(fd, contents.bytes.data(), size_t(MaxLockFileBytes));
        if (n < 0)
            contents.unreadable = QString::fromLocal8Bit(std::strerror(errno));
        contents.bytes.resize(std::max<qsizetype>(n, 0));
    }
    ::close(fd);
    return contents;
}

bool isText(QByteArrayView bytes)
{
    return std::ranges::all_of(bytes, [](char c) {
        return (c >= ' ' && c <= '~') || c == '\n' || c == '\r' || c == '\t';
    });
}

// Qt's own reader of its lock files, run on an in-memory copy of the bounded contents so that
// it never opens the untrusted file itself.
std::optional<LockRecord> readQtLockInfo(QByteArray contents)
{
    if (!contents.endsWith('\n'))
        contents += '\n'; // the reader takes the last character of every line for its newline
    const int fd = ::memfd_create("lock-file", MFD_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<LockRecord> record;
    if (::write(fd, contents.constData(), size_t(contents.size())) == contents.size()) {
        LockRecord info;
        const QLockFile reader(QStringLiteral("/proc/self/fd/%1").arg(fd));
        if (reader.getLockInfo(&info.pid, nullptr, &info.program))
            record = info;
    }
    ::close(fd);
    return record;
}

// The name of the program a process runs, as Qt names the writer of its lock files: the file
// name of /proc/PID/exe. Nothing when the process's program cannot be seen (another user's).
std::optional<QString> programFileOf(qint64 pid)
{
    char target[PATH_MAX];
    const QByteArray exe = "/proc/" + QByteArray::number(pid) + "/exe";
    const ssize_t n = ::readlink(exe.constData(), target, sizeof target);
    if (n < 0)
        return errno == EACCES || errno == EPERM ? std::nullopt : std::optional(QString());
    QByteArray path(target, n);
    if (path.endsWith(" (deleted)")) // the program file was replaced while it ran
        path.chop(int(sizeof " (deleted)") - 1);
    return QFileInfo(QFile::decodeName(path)).fileName();
}

// A UUCP lock holds the device while its PID lives; a Qt lock while its PID still runs the
// program that wrote it (a PID reused by a shell holds nothing). Where the program cannot be
// seen, the live PID is taken as the holder.
bool holds(const LockRecord& lock)
{
    if (!alive(lock.pid) || lock.pid == ::getpid())
        return false;
    if (lock.program.isEmpty())
        return true;
    const auto program = programFileOf(lock.pid);
    return !program || *program == lock.program;
}

QString unusableLockFileText(const QString& path, const QString& why)
{
    return QStringLiteral("unusable lock file %1 (%2): remove it if no other program uses the "
                          "port")
        .arg(path, why);
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

std::optional<LockRecord> parseLockFile(const QByteArray& contents)
{
    if (contents.size() == qsizetype(sizeof(int)) && !isText(contents)) {
        int binary = 0;
        std::memcpy(&binary, contents.constData(), sizeof binary);
        return binary > 0 ? std::optional(LockRecord{binary, {}}) : std::nullopt;
    }
    return readQtLockInfo(contents);
}

namespace {

// What the device's lock file in lockDir says: a live holder, a reason it cannot be read as a
// lock file, or neither (no file, or a stale one).
struct LockFileReading {
    QString path;
    std::optional<DeviceHolder> holder;
    QString unusable;
};

LockFileReading readLockFor(const QString& devicePath, const QString& lockDir)
{
    // "/dev/ttyS0" -> "LCK..ttyS0", "/dev/pts/3" -> "LCK..pts_3"
    QString name = devicePath;
    if (name.startsWith(QStringLiteral("/dev/")))
        name.remove(0, 5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    LockFileReading reading{lockDir + QStringLiteral("/LCK..") + name, {}, {}};

    const auto contents = readLockFile(reading.path);
    if (!contents)
        return reading;
    if (!contents->unreadable.isEmpty())
        reading.unusable = contents->unreadable;
    else if (contents->bytes.isEmpty())
        reading.unusable = QStringLiteral("empty");
    else if (const auto lock = parseLockFile(contents->bytes); !lock)
        reading.unusable = QStringLiteral("no process ID in it");
    else if (holds(*lock))
        reading.holder =
            DeviceHolder{lock->pid, lock->program.isEmpty() ? programOf(lock->pid) : lock->program};
    return reading;
}

} // namespace

QString lockFileRefusal(const QString& devicePath, const QString& lockDir)
{
    const LockFileReading reading = readLockFor(devicePath, lockDir);
    if (!reading.unusable.isEmpty())
        return unusableLockFileText(reading.path, reading.unusable);
    return reading.holder ? inUseText(*reading.holder, devicePath) : QString();
}

std::optional<DeviceHolder> lockFileHolder(const QString& devicePath, const QString& lockDir)
{
    return readLockFor(devicePath, lockDir).holder;
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

QString inUseText(const DeviceHolder& holder, const QString& devicePath)
{
    QString text = inUseText(holder);
    if (holder.program == QLatin1String("qx200d")) {
        if (const QString at = serviceConsoleAddress(devicePath); !at.isEmpty())
            text += QStringLiteral(": attach with --com1 tcp:") + at;
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
        return error == EBUSY
                   ? inUseText(lockHolder(devicePath).value_or(DeviceHolder{}), devicePath)
                   : QString::fromLocal8Bit(std::strerror(error));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        const auto holder = error == EWOULDBLOCK ? lockHolder(fd) : std::nullopt;
        ::close(fd);
        return error == EWOULDBLOCK ? inUseText(holder.value_or(DeviceHolder{}), devicePath)
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
