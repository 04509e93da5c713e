#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace qx200::testing {

// A pseudo-terminal pair whose slave is reached through a link in a temporary folder, the way
// the console reaches a device named by QX200_COM1. The test holds the master: what it writes
// the console receives, and what the console sends it reads.
class PseudoTerminal {
public:
    // linkPath empty: a link in a temporary folder of its own.
    explicit PseudoTerminal(const QString& linkPath = {})
    {
        // Close-on-exec: a child started later must not hold the line up after hangUp().
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no slave name");
        slavePath_ = QString::fromLocal8Bit(name);
        termios raw{};
        ::tcgetattr(master_, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
        link_ = linkPath.isEmpty() ? dir_.filePath(QStringLiteral("COM1")) : linkPath;
        QFile::remove(link_);
        QFile::link(slavePath_, link_);
    }
    ~PseudoTerminal()
    {
        if (master_ >= 0)
            ::close(master_);
    }

    // The far end goes away, as when an adapter is pulled, and its device name with it: a
    // pseudo-terminal made later (by a test running beside this one) may get the same number.
    void hangUp()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
        QFile::remove(link_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const QString& link() const { return link_; }
    const QString& slavePath() const { return slavePath_; }
    int master() const { return master_; }

    void write(const QByteArray& bytes) const
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (errno == EAGAIN)
                waitFor(POLLOUT, 10);
            else
                throw std::runtime_error("write to pseudo-terminal failed");
        }
    }

    // Reads until `count` bytes have come or the time is up, keeping the event loop going so
    // that the console in the same process can send.
    QByteArray read(qsizetype count, int timeoutMs) const
    {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < count && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            char buffer[4096];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, n);
            else
                waitFor(POLLIN, 2);
        }
        return got;
    }

    // The line settings of the slave as the console left them. A pseudo-terminal pair shares
    // them, so the master tells without opening the slave (which the console holds exclusive).
    termios slaveAttributes() const
    {
        termios attributes{};
        ::tcgetattr(master_, &attributes);
        return attributes;
    }

private:
    void waitFor(short events, int ms) const
    {
        pollfd p{master_, events, 0};
        ::poll(&p, 1, ms);
    }

    QTemporaryDir dir_;
    int master_ = -1;
    QString slavePath_;
    QString link_;
};

} // namespace qx200::testing
