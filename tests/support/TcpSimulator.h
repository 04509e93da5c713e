#pragma once

#include "support/ChildProcess.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <stdexcept>

namespace qx200::testing {

// The projector simulator program serving on a free TCP port of 127.0.0.1, started for one test
// and stopped with it. device() is what a console's COM port is set to.
class TcpSimulator {
public:
    explicit TcpSimulator(const QStringList& options = {})
    {
        process_.setProgram(QStringLiteral(QX200_SIM_PATH));
        process_.setArguments(QStringList{QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0"),
                                          QStringLiteral("--seed"), QStringLiteral("7")} +
                              options);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        // The first line says where it listens: "qx200-sim: serving on tcp:127.0.0.1:40123".
        if (!process_.waitForStarted(10000) || !process_.waitForReadyRead(10000))
            throw std::runtime_error("simulator did not start");
        while (!process_.canReadLine() && process_.waitForReadyRead(10000)) {
        }
        const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
        const auto match =
            QRegularExpression(QStringLiteral("^qx200-sim: serving on (tcp:.*:(\\d+))$"))
                .match(line);
        if (!match.hasMatch())
            throw std::runtime_error("simulator said: " + line.toStdString());
        device_ = match.captured(1);
        port_ = quint16(match.captured(2).toUInt());
    }
    ~TcpSimulator() { stop(); }
    TcpSimulator(const TcpSimulator&) = delete;
    TcpSimulator& operator=(const TcpSimulator&) = delete;

    const QString& device() const { return device_; }
    quint16 port() const { return port_; }

    // Stops the program (SIGTERM); its exit status, -1 when it had to be killed.
    int stop() { return stopChild(process_); }

private:
    QProcess process_;
    QString device_;
    quint16 port_ = 0;
};

} // namespace qx200::testing
