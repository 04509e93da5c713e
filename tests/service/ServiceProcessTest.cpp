// qx200d as a user runs it.

#include "service/HttpResponder.h"
#include "support/EventLoop.h"
#include "support/HttpExchange.h"
#include "support/Simulator.h"
#include "support/TcpSimulator.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace qx200 {
namespace {

struct ProgramRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

ProgramRun runService(const QStringList& args)
{
    QProcess process;
    process.start(QStringLiteral(QX200D_PATH), args);
    process.waitForFinished(20000);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

QString writeFile(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath(QStringLiteral("fleet.yml"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(text);
    return path;
}

TEST(ServiceProcess, ChecksItsConfiguration)
{
    QTemporaryDir dir;
    const QString good = writeFile(dir, "projectors:\n  - name: a\n    device: /dev/ttyUSB0\n");
    const ProgramRun ok = runService({"--config", good, "--check-config"});
    EXPECT_EQ(ok.exitCode, 0);
    EXPECT_EQ(ok.out, good.toUtf8() + ": 1 projectors, good\n");

    const QString bad = writeFile(dir, "projectors:\n  - name: a\n    device: /dev/x\n"
                                       "    speed: 300\n");
    const ProgramRun refused = runService({"--config", bad, "--check-config"});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_EQ(refused.err,
              "qx200d: " + bad.toUtf8() + ": line 4: speed must be 19200 or 9600, not \"300\"\n");

    const ProgramRun serveBad = runService({"--config", bad});
    EXPECT_EQ(serveBad.exitCode, 1);
}

TEST(ServiceProcess, ChecksThePjlinkPasswordFiles)
{
    QTemporaryDir dir;
    const QString password = dir.filePath(QStringLiteral("hall.pjlink"));
    QFile file(password);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("secret\n");
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const QString config = writeFile(
        dir, "projectors:\n  - name: a\n    device: /dev/x\n    pjlink:\n      listen: "
             "127.0.0.1:4352\n      password_file: " +
                 password.toUtf8() +
                 "\n  - name: b\n    device: /dev/y\n    pjlink: {listen: 127.0.0.1:4353}\n");
    const QByteArray warning = "qx200d: warning: b: pjlink on 127.0.0.1:4353 has no password_file: "
                               "any controller that reaches it needs no password\n";
    const ProgramRun open = runService({"--config", config, "--check-config"});
    EXPECT_EQ(open.exitCode, 1);
    EXPECT_EQ(open.err, warning + "qx200d: a: the password file " + password.toUtf8() +
                            " is open to others than its owner (mode 0604); chmod 600 it\n");

    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    const ProgramRun good = runService({"--config", config, "--check-config"});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.err, warning);
}

TEST(ServiceProcess, UnknownOptionIsAnErrorWithUsage)
{
    const ProgramRun run = runService({"--frobnicate"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.startsWith("qx200d: Unknown option 'frobnicate'.\nUsage: "));
    EXPECT_TRUE(run.out.isEmpty());

    const ProgramRun help = runService({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: "));
}

TEST(ServiceProcess, ProbeTellsWhetherTheProjectorAnswered)
{
    testing::Simulator healthy;
    const ProgramRun answered = runService({"--probe", healthy.link()});
    EXPECT_EQ(answered.exitCode, 0);
    EXPECT_TRUE(answered.out.contains("answered: yes\n"));
    EXPECT_TRUE(answered.out.contains("lamp_hours: 1234\n"));
    EXPECT_TRUE(answered.out.contains("power: standby\n"));

    testing::Simulator silent({QStringLiteral("--silent")});
    const ProgramRun quiet = runService({"--probe", silent.link(), "--json"});
    EXPECT_EQ(quiet.exitCode, 1);
    const QJsonObject json = QJsonDocument::fromJson(quiet.out).object();
    EXPECT_EQ(json["answered"], false);
    EXPECT_EQ(json["device"], silent.link());
    EXPECT_TRUE(json["readings"].toObject().isEmpty());

    const ProgramRun missing = runService({"--probe", healthy.link() + "-missing"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.out.contains("fault: "));
}

TEST(ServiceProcess, ProbeWaitsForANetworkDeviceToConnect)
{
    testing::TcpSimulator projector;
    const ProgramRun answered = runService({"--probe", projector.device()});
    EXPECT_EQ(answered.exitCode, 0) << answered.out.toStdString();
    EXPECT_TRUE(answered.out.contains("lamp_hours: 1234\n"));
}

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

TEST(ServiceProcess, ServesUntilTerminated)
{
    testing::Simulator healthy;
    QTemporaryDir dir;
    const QString config =
        writeFile(dir, "projectors:\n  - name: hall-a\n    device: " + healthy.link().toUtf8() +
                           "\n    interval: 1s\n");
    const quint16 port = freePort();
    QProcess service;
    service.start(QStringLiteral(QX200D_PATH),
                  {"--config", config, "--listen", QStringLiteral("127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(service.waitForStarted(10000));

    QByteArray metrics;
    QDeadlineTimer deadline(15000);
    while (!metrics.contains("qx200_lamp_used_seconds{") && !deadline.hasExpired()) {
        testing::runFor(100);
        metrics = testing::httpGet(port, "/metrics");
    }
    EXPECT_TRUE(metrics.contains(R"(qx200_up{device=")" + healthy.link().toUtf8() +
                                 R"(",projector="hall-a"} 1)"));
    EXPECT_TRUE(metrics.contains("} 4442400\n")); // 1234 h

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
}

// Started with a low soft limit of descriptors, it takes the hard one; with more idle
// connections than descriptors, it still answers a scrape (and does not stop accepting).
TEST(ServiceProcess, AnswersWhenOutOfDescriptors)
{
    constexpr rlim_t Soft = 40, Hard = 64;
    testing::Simulator healthy;
    QTemporaryDir dir;
    const QString config =
        writeFile(dir, "projectors:\n  - name: hall-a\n    device: " + healthy.link().toUtf8() +
                           "\n    interval: 1s\n");
    const quint16 port = freePort();
    QProcess service;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    service.setProcessEnvironment(environment);
    service.setProcessChannelMode(QProcess::ForwardedChannels);
    service.setChildProcessModifier([] {
        const rlimit limit{Soft, Hard};
        ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    service.start(QStringLiteral(QX200D_PATH), {"--config", config, "--web.listen-address",
                                                QStringLiteral("127.0.0.1:%1").arg(port)});
    ASSERT_TRUE(service.waitForStarted(10000));
    ASSERT_TRUE(testing::waitUntil(
        [&] { return testing::httpGet(port, "/metrics").contains("process_max_fds"); }, 15000));
    EXPECT_TRUE(testing::httpGet(port, "/metrics").contains("\nprocess_max_fds 64\n"));

    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (rlim_t i = 0; i < 2 * Hard; ++i) {
        idle.push_back(std::make_unique<QTcpSocket>());
        idle.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    testing::runFor(1000);
    // Well before the idle connections time out and give their descriptors back.
    QElapsedTimer waited;
    waited.start();
    const QByteArray answer = testing::httpGet(port, "/metrics");
    EXPECT_TRUE(answer.contains("qx200_up{")) << "no answer with every descriptor taken";
    EXPECT_LT(waited.elapsed(), HttpResponder::IdleTimeoutMs / 2);
    idle.clear();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
}

} // namespace
} // namespace qx200
