#pragma once

#include <QProcess>

namespace qx200::testing {

// Stops a program the tests started: SIGTERM, then SIGKILL if it has not ended within the grace
// time. Returns its exit status, -1 when it crashed or had to be killed.
inline int stopChild(QProcess& process, int graceMs = 5000)
{
    if (process.state() == QProcess::NotRunning)
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    process.terminate();
    if (process.waitForFinished(graceMs))
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    process.kill();
    process.waitForFinished(5000);
    return -1;
}

} // namespace qx200::testing
