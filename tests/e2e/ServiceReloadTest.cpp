// qx200d re-reading its configuration: three simulator programs, one projector removed and one
// added by SIGHUP while a console stays attached to the third; a bad file refused over
// POST /-/reload with the running configuration kept.

#include "support/ChildProcess.h"
#include "support/EventLoop.h"
#include "support/FleetProcesses.h"
#include "support/HttpExchange.h"
#include "support/Simulator.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

namespace qx200::testing {
namespace {

constexpr int Patience = 30000;

QByteArray projectorEntry(const char* name, const QString& device, const QString& more = {})
{
    return QByteArray("  - name: ") + name + "\n    device: " + device.toUtf8() +
           "\n    interval: 500ms\n" + more.toUtf8();
}

bool upIn(const QByteArray& metrics, const char* projector)
{
    for (const QByteArray& line : metrics.split('\n')) {
        if (line.startsWith("qx200_up{") && line.contains(QByteArray("projector=\"") + projector))
            return line.endsWith("} 1");
    }
    return false;
}

TEST(ServiceReload, ProjectorsComeAndGoWhileAConsoleStaysAttached)
{
    Simulator kept, removed, added;
    QTemporaryDir dir;
    const quint16 httpPort = freeLocalPort();
    const quint16 consolePort = freeLocalPort();
    const QString config = dir.filePath(QStringLiteral("qx200d.yml"));
    const QString console = QStringLiteral("    console: 127.0.0.1:%1\n").arg(consolePort);
    writeFile(config, "projectors:\n" + projectorEntry("kept", kept.link(), console) +
                          projectorEntry("removed", removed.link()));

    QProcess service;
    QByteArray log;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
    environment.remove(QStringLiteral("RUNTIME_DIRECTORY"));
    environment.remove(QStringLiteral("STATE_DIRECTORY"));
    service.setProcessEnvironment(environment);
    service.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    QObject::connect(&service, &QProcess::readyReadStandardError,
                     [&] { log += service.readAllStandardError(); });
    service.start(QStringLiteral(QX200D_PATH),
                  {QStringLiteral("--config"), config, QStringLiteral("--web.listen-address"),
                   QStringLiteral("127.0.0.1:%1").arg(httpPort),
                   QStringLiteral("--web.enable-lifecycle")});
    const auto metrics = [&] { return httpGet(httpPort, "/metrics"); };
    ASSERT_TRUE(
        waitUntil([&] { return upIn(metrics(), "kept") && upIn(metrics(), "removed"); }, Patience))
        << log.toStdString();
    EXPECT_TRUE(httpExchange(httpPort, "GET /-/ready HTTP/1.1\r\n\r\n").startsWith("HTTP/1.1 200"));

    QTcpSocket operatorConsole;
    operatorConsole.connectToHost(QHostAddress::LocalHost, consolePort);
    ASSERT_TRUE(waitUntil([&] { return log.contains(" attached\n"); }, Patience))
        << log.toStdString();

    writeFile(config, "projectors:\n" + projectorEntry("kept", kept.link(), console) +
                          projectorEntry("added", added.link()));
    ::kill(pid_t(service.processId()), SIGHUP);
    ASSERT_TRUE(waitUntil(
        [&] {
            return log.contains("configuration reloaded: added added; removed removed; "
                                "1 unchanged");
        },
        Patience))
        << log.toStdString();
    EXPECT_TRUE(waitUntil([&] { return upIn(metrics(), "added"); }, Patience)) << log.toStdString();
    EXPECT_FALSE(metrics().contains("projector=\"removed\""));

    // The console's session goes on: its query reaches the projector and the answer comes back.
    EXPECT_EQ(operatorConsole.state(), QAbstractSocket::ConnectedState);
    operatorConsole.write("CR0\r");
    EXPECT_TRUE(waitUntil([&] { return operatorConsole.bytesAvailable() > 0; }, Patience))
        << log.toStdString();
    for (const char* end : {" detached", " dropped", " closed"})
        EXPECT_FALSE(log.contains(end)) << log.toStdString();

    // A broken file is refused with its line; what runs stays.
    writeFile(config, "projectors:\n  - name: [\n");
    const QByteArray refused =
        httpExchange(httpPort, "POST /-/reload HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 500")) << refused.toStdString();
    EXPECT_TRUE(refused.contains("qx200d.yml: line ")) << refused.toStdString();
    EXPECT_TRUE(log.contains("reload refused, the running configuration stays"))
        << log.toStdString();
    const QByteArray after = metrics();
    EXPECT_TRUE(after.contains("\nqx200_config_last_reload_successful 0\n")) << after.toStdString();
    EXPECT_TRUE(upIn(after, "kept") && upIn(after, "added")) << after.toStdString();
    EXPECT_EQ(operatorConsole.state(), QAbstractSocket::ConnectedState);

    operatorConsole.abort();
    EXPECT_EQ(stopChild(service), 0) << log.toStdString();
}

} // namespace
} // namespace qx200::testing
