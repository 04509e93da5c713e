#pragma once

#include "support/ChildProcess.h"

// The real serial server (Debian's ser2net) in front of a local device, started by a test on a
// free port of 127.0.0.1 in the foreground with its own configuration, stopped with the test.

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <ostream>
#include <stdexcept>

namespace qx200::testing {

class SerialServer {
public:
    enum class Protocol { Raw, Rfc2217 };

    SerialServer(const QString& device, Protocol protocol) : protocol_(protocol), port_(freePort())
    {
        const QString accepter = QStringLiteral("%1tcp,127.0.0.1,%2")
                                     .arg(protocol == Protocol::Rfc2217 ? "telnet(rfc2217)," : "")
                                     .arg(port_);
        QFile config(dir_.filePath(QStringLiteral("ser2net.yaml")));
        if (!config.open(QIODevice::WriteOnly))
            throw std::runtime_error("cannot write the serial server's configuration");
        config.write(QStringLiteral("connection: &console\n"
                                    "  accepter: %1\n"
                                    "  connector: serialdev,%2,19200n81,local\n"
                                    "  options:\n"
                                    "    kickolduser: true\n")
                         .arg(accepter, device)
                         .toLocal8Bit());
        config.close();
        start();
    }
    ~SerialServer() { stop(); }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    quint16 port() const { return port_; }
    // The device text the console is given: "tcp:127.0.0.1:PORT" or "rfc2217:127.0.0.1:PORT".
    QString address() const
    {
        return QStringLiteral("%1:127.0.0.1:%2")
            .arg(protocol_ == Protocol::Rfc2217 ? "rfc2217" : "tcp")
            .arg(port_);
    }

    // Starts the server and waits until it listens (seen in /proc, without connecting to it).
    void start()
    {
        const QString program = QStandardPaths::findExecutable(
            QStringLiteral("ser2net"), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
        if (program.isEmpty())
            throw std::runtime_error("ser2net is not installed (scripts/install-deps.sh)");
        process_.setProgram(program);
        process_.setArguments({QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-P"),
                               dir_.filePath(QStringLiteral("ser2net.pid")), QStringLiteral("-c"),
                               dir_.filePath(QStringLiteral("ser2net.yaml"))});
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start();
        if (!process_.waitForStarted(10000))
            throw std::runtime_error("ser2net did not start");
        const QDeadlineTimer deadline(10000);
        while (!listening()) {
            if (deadline.hasExpired() || process_.state() == QProcess::NotRunning)
                throw std::runtime_error("ser2net never listened on its port");
            QThread::msleep(5);
        }
    }

    void stop() { stopChild(process_); }

    qint64 pid() const { return process_.processId(); }

private:
    static quint16 freePort()
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            throw std::runtime_error("no free port on 127.0.0.1");
        return probe.serverPort();
    }

    // A listening socket on the port in the kernel's table.
    bool listening() const
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local =
            "0100007F:" + QByteArray::number(port_, 16).toUpper().rightJustified(4, '0');
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1] == local && fields[3] == "0A")
                return true;
        }
        return false;
    }

    QTemporaryDir dir_;
    Protocol protocol_;
    quint16 port_;
    QProcess process_;
};

inline void PrintTo(SerialServer::Protocol protocol, std::ostream* os)
{
    *os << (protocol == SerialServer::Protocol::Rfc2217 ? "rfc2217" : "tcp");
}

} // namespace qx200::testing
