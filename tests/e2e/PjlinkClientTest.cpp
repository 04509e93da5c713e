// A room controller's network-projector client from npm against qx200d, which owns the
// simulated projector's line on a pseudo-terminal.

#include "support/FleetProcesses.h"
#include "support/Simulator.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

QJsonValue valueOf(const QJsonObject& results, const char* step)
{
    return results[QLatin1String(step)][QStringLiteral("value")];
}

QJsonValue errorOf(const QJsonObject& results, const char* step)
{
    return results[QLatin1String(step)][QStringLiteral("err")];
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000) && socket.waitForReadyRead(1000);
}

TEST(PjlinkClient, DrivesAProjectorThroughTheService)
{
    testing::Simulator projector({QStringLiteral("--warmup-ms"), QStringLiteral("2000"),
                                  QStringLiteral("--cooldown-ms"), QStringLiteral("2000")});
    QTemporaryDir dir;
    const QString passwordFile = dir.filePath(QStringLiteral("hall-1.pjlink"));
    testing::writeFile(passwordFile, "JBMIAProjectorLink\n");
    QFile::setPermissions(passwordFile, QFile::ReadOwner | QFile::WriteOwner);
    const quint16 pjlinkPort = testing::freeLocalPort();
    const quint16 httpPort = testing::freeLocalPort();
    const QString config = dir.filePath(QStringLiteral("qx200d.yml"));
    testing::writeFile(config,
                       "projectors:\n  - name: hall-1\n    device: " + projector.link().toUtf8() +
                           "\n    interval: 1s\n    pjlink:\n      listen: 127.0.0.1:" +
                           QByteArray::number(pjlinkPort) +
                           "\n      password_file: " + passwordFile.toUtf8() + "\n");
    testing::ChildProgram service;
    service.start(QStringLiteral(QX200D_PATH),
                  {"--config", config, "--listen", QStringLiteral("127.0.0.1:%1").arg(httpPort),
                   "--control-socket", dir.filePath(QStringLiteral("qx200d.sock")), "--no-record"});
    QDeadlineTimer deadline(15000);
    while (!accepts(pjlinkPort) && !deadline.hasExpired())
        QThread::msleep(100);

    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NODE_PATH"), QStringLiteral(QX200_NPM_MODULES));
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QStringLiteral(QX200_NODE_PATH),
                 {QStringLiteral(QX200_PJLINK_SCRIPT), QString::number(pjlinkPort),
                  QStringLiteral("JBMIAProjectorLink")});
    ASSERT_TRUE(client.waitForFinished(120000));
    ASSERT_EQ(client.exitCode(), 0);
    const QJsonObject r = QJsonDocument::fromJson(client.readAllStandardOutput()).object();
    ASSERT_FALSE(r.isEmpty());

    EXPECT_EQ(valueOf(r, "class"), "2");
    EXPECT_EQ(valueOf(r, "name"), "hall-1");
    EXPECT_EQ(valueOf(r, "manufacturer"), "qx200d");
    EXPECT_EQ(valueOf(r, "model"), "QX200 on RS-232C");
    QStringList inputs;
    for (const QJsonValue& input : valueOf(r, "inputs").toArray())
        inputs << input[QStringLiteral("code")].toString();
    EXPECT_EQ(inputs, (QStringList{"11", "12", "21", "31"}));
    EXPECT_EQ(valueOf(r, "powerBefore"), 0);
    // An input cannot be chosen in standby; the projector warms up after power on.
    EXPECT_EQ(errorOf(r, "inputInStandby"), "Unavailable time");
    EXPECT_EQ(errorOf(r, "powerOn"), QJsonValue::Null);
    EXPECT_EQ(r["warmingUp"].toArray(), (QJsonArray{3, 1}));
    EXPECT_EQ(errorOf(r, "setInput"), QJsonValue::Null);
    EXPECT_EQ(valueOf(r, "input")[QStringLiteral("code")], "31");
    EXPECT_EQ(valueOf(r, "muted"), (QJsonObject{{"audio", true}, {"video", true}}));
    EXPECT_EQ(valueOf(r, "unmuted"), (QJsonObject{{"audio", false}, {"video", false}}));
    EXPECT_EQ(valueOf(r, "errors"), QJsonValue::Null); // no errors reported
    const QJsonArray lamps = valueOf(r, "lamps").toArray();
    ASSERT_EQ(lamps.size(), 2);
    EXPECT_GE(lamps[0][QStringLiteral("hours")].toInt(), 1234);
    EXPECT_EQ(lamps[0][QStringLiteral("on")], true);
    EXPECT_EQ(errorOf(r, "powerOff"), QJsonValue::Null);
    // Power on while cooling down is refused; the projector cools down to standby.
    EXPECT_EQ(errorOf(r, "powerOnWhileCooling"), "Unavailable time");
    EXPECT_EQ(r["coolingDown"].toArray(), (QJsonArray{2, 0}));
    EXPECT_EQ(errorOf(r, "wrongPassword"), "Authorization failed");

    const testing::HttpReply metrics = testing::HttpClient().get(
        QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(httpPort)));
    EXPECT_TRUE(metrics.body.contains(
        R"(qx200_pjlink_requests_total{command="POWR",projector="hall-1",result="err3"} 1)"))
        << metrics.body.constData();
    EXPECT_TRUE(
        metrics.body.contains(R"(qx200_pjlink_refused_logins_total{projector="hall-1"} 1)"));

    // A controller connected shows in the service's list.
    QTcpSocket controller;
    controller.connectToHost(QHostAddress::LocalHost, pjlinkPort);
    ASSERT_TRUE(controller.waitForConnected(5000) && controller.waitForReadyRead(5000));
    QProcess ctl;
    ctl.start(QStringLiteral(QX200CTL_PATH),
              {"--socket", dir.filePath(QStringLiteral("qx200d.sock")), "list"});
    ASSERT_TRUE(ctl.waitForFinished(30000));
    const QString list = QString::fromUtf8(ctl.readAllStandardOutput());
    EXPECT_TRUE(list.startsWith("NAME ")) << list.toStdString();
    EXPECT_TRUE(list.contains(QStringLiteral("  PJLINK\n"))) << list.toStdString();
    EXPECT_TRUE(list.contains(
        QStringLiteral("127.0.0.1:%1: 127.0.0.1:%2\n").arg(pjlinkPort).arg(controller.localPort())))
        << list.toStdString();
}

} // namespace
} // namespace qx200
