#include "ServiceProcess.h"

#include "support/FleetProcesses.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>
#include <stdexcept>

namespace qx200::bench {

namespace {

// Whether something takes connections on the port. A test connection is dropped at once, before
// the service could count it as an operator's.
bool listening(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool connected = socket.waitForConnected(200);
    socket.abort();
    return connected;
}

} // namespace

ServiceProcess::ServiceProcess(const QString& device) : consolePort_(testing::freeLocalPort())
{
    const QString config = dir_.filePath(QStringLiteral("qx200d.yml"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the service's configuration");
    file.write(QStringLiteral("projectors:\n"
                              "  - name: bench\n"
                              "    device: %1\n"
                              "    interval: 1s\n"
                              "    console: 127.0.0.1:%2\n")
                   .arg(device)
                   .arg(consolePort_)
                   .toUtf8());
    file.close();
    // The service's log goes to a file: the report stays readable, the log is there if it fails.
    process_.setStandardErrorFile(dir_.filePath(QStringLiteral("qx200d.log")));
    process_.start(QStringLiteral(QX200D_PATH),
                   {QStringLiteral("--config"), config, QStringLiteral("--listen"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--control-socket"),
                    dir_.filePath(QStringLiteral("qx200d.sock")), QStringLiteral("--no-record")});
    const QDeadlineTimer deadline(10000);
    while (!listening(consolePort_)) {
        if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) {
            QFile log(dir_.filePath(QStringLiteral("qx200d.log")));
            log.open(QIODevice::ReadOnly);
            throw std::runtime_error("qx200d does not take console connections: " +
                                     log.readAll().toStdString());
        }
        QThread::msleep(20);
    }
    QThread::msleep(100); // the probe's connection is gone from the service's view
}

ServiceProcess::~ServiceProcess()
{
    process_.terminate();
    if (!process_.waitForFinished(5000))
        process_.kill();
}

QString ServiceProcess::consoleDevice() const
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(consolePort_);
}

} // namespace qx200::bench
