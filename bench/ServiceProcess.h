#pragma once

// qx200d as the benchmark runs it: a process of its own owning one projector's line (a
// pseudo-terminal the benchmark holds), its poller running, with a console address on the
// loopback interface for the console to attach to.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace qx200::bench {

class ServiceProcess {
public:
    // Starts qx200d on the device; throws when it does not take console connections in time.
    explicit ServiceProcess(const QString& device);
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // The console's device text for the projector: "tcp:127.0.0.1:N".
    QString consoleDevice() const;

private:
    QTemporaryDir dir_;
    quint16 consolePort_ = 0;
    QProcess process_;
};

} // namespace qx200::bench
