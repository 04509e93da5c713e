#pragma once

#include "support/ChildProcess.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <stdexcept>

namespace qx200::testing {

// The projector simulator program on a link in a temporary folder (or at a given link),
// started for one test and stopped with it.
class Simulator {
public:
    explicit Simulator(const QStringList& options = {}, const QString& linkPath = {})
        : link_(linkPath.isEmpty() ? dir_.filePath(QStringLiteral("COM1")) : linkPath)
    {
        start(options);
    }
    ~Simulator() { stop(); }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const QString& link() const { return link_; }
    qint64 pid() const { return process_.processId(); }

    void start(const QStringList& options)
    {
        process_.setProgram(QStringLiteral(QX200_SIM_PATH));
        process_.setArguments(QStringList{QStringLiteral("--link"), link_, QStringLiteral("--seed"),
                                          QStringLiteral("7")} +
                              options);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start();
        if (!process_.waitForStarted(10000))
            throw std::runtime_error("simulator did not start");
        QDeadlineTimer deadline(10000);
        while (!QFileInfo(link_).exists() && !deadline.hasExpired())
            QThread::msleep(5);
        if (!QFileInfo(link_).exists())
            throw std::runtime_error("simulator made no link");
    }

    // Stops the program (SIGTERM); it removes its link.
    void stop() { stopChild(process_); }

private:
    QTemporaryDir dir_;
    QString link_;
    QProcess process_;
};

} // namespace qx200::testing
