// qx200ctl against a running qx200d on a simulated projector, over the control socket.

#include "support/FleetProcesses.h"
#include "support/Simulator.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace qx200 {
namespace {

struct CtlRun {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

CtlRun ctl(const QStringList& args,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QX200CTL_PATH), args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// A local socket's end as a careless client has it: no newline, no waiting, no Qt.
class RawClient {
public:
    explicit RawClient(const QString& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray name = QFile::encodeName(path);
        std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
        const timeval limit{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~RawClient() { ::close(fd_); }

    bool connected() const { return connected_; }

    // Sends what the service takes of the bytes, until it closes.
    void send(const QByteArray& bytes)
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n =
                ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    }

    // Reads until `lines` whole lines are in, or the service closes, or 10 s have passed.
    QByteArray receive(int lines)
    {
        QByteArray received;
        char buffer[4096];
        while (received.count('\n') < lines) {
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            received.append(buffer, n);
        }
        return received;
    }

    // True when the service has closed its end (rather than gone quiet for 10 s).
    bool closed()
    {
        char byte = 0;
        const ssize_t n = ::recv(fd_, &byte, 1, 0);
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }

private:
    int fd_;
    bool connected_ = false;
};

// A socket file with nobody behind it, as a service killed outright leaves it.
void leaveStaleSocket(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::close(fd);
}

TEST(ControlClient, ControlsAProjectorThroughTheService)
{
    testing::Simulator projector({QStringLiteral("--warmup-ms"), QStringLiteral("60000")});
    QTemporaryDir dir;
    const QString socket = dir.filePath(QStringLiteral("run/qx200d.sock"));
    leaveStaleSocket(socket);
    const QString config = dir.filePath(QStringLiteral("qx200d.yml"));
    testing::writeFile(config, "projectors:\n  - name: hall-1\n    device: " +
                                   projector.link().toUtf8() + "\n    interval: 1s\n");
    const QStringList serviceArgs{
        "--config",         config,
        "--listen",         QStringLiteral("127.0.0.1:%1").arg(testing::freeLocalPort()),
        "--control-socket", socket};
    auto service = std::make_unique<testing::ChildProgram>();
    service->start(QStringLiteral(QX200D_PATH), serviceArgs);

    // The first round read the projector.
    CtlRun list;
    QDeadlineTimer deadline(15000);
    while (!list.out.contains(" up ") && !deadline.hasExpired()) {
        QThread::msleep(100);
        list = ctl({"--socket", socket, "list"});
    }
    EXPECT_EQ(list.exitCode, 0) << list.err.toStdString();
    EXPECT_EQ(list.out, "NAME    STATE  POWER    LINE\n"
                        "hall-1  up     standby  free\n");
    struct stat mode {};
    ASSERT_EQ(::stat(QFile::encodeName(socket).constData(), &mode), 0);
    EXPECT_EQ(mode.st_mode & 0777, 0660u);
    const CtlRun json = ctl({"--socket", socket, "--json", "list"});
    EXPECT_EQ(QJsonDocument::fromJson(json.out)["projectors"][0]["name"], "hall-1");

    const CtlRun on = ctl({"--socket", socket, "power", "on", "hall-1"});
    EXPECT_EQ(on.exitCode, 0) << on.err.toStdString();
    EXPECT_EQ(on.out, "hall-1: done\n");
    const CtlRun off = ctl({"--socket", socket, "power", "off", "hall-1"});
    EXPECT_EQ(off.exitCode, 1);
    EXPECT_EQ(off.err, "qx200ctl: hall-1: refused: the projector is counting down to power on\n");
    const CtlRun status = ctl({"--socket", socket, "status", "hall-1"});
    EXPECT_EQ(status.exitCode, 0);
    EXPECT_TRUE(status.out.startsWith("name: hall-1\n")) << status.out.toStdString();
    EXPECT_TRUE(status.out.contains("\npower: warm_up\n"));
    EXPECT_TRUE(status.out.contains("\nage: "));
    EXPECT_TRUE(status.out.contains("\nlamp_hours: "));
    const CtlRun sent = ctl({"--socket", socket, "send", "hall-1", "CR0"});
    EXPECT_EQ(sent.exitCode, 0) << sent.err.toStdString();
    EXPECT_TRUE(sent.out.endsWith("\\r\n")) << sent.out.toStdString();
    const CtlRun unknown = ctl({"--socket", socket, "status", "hall-9"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_EQ(unknown.err, "qx200ctl: hall-9: no such projector\n");

    for (const QStringList& wrong : {QStringList{"power", "maybe", "hall-1"}, QStringList{}}) {
        const CtlRun usage = ctl(QStringList{"--socket", socket} + wrong);
        EXPECT_EQ(usage.exitCode, 2);
        EXPECT_TRUE(usage.err.startsWith("qx200ctl: ") && usage.err.contains("\nUsage: qx200ctl"));
    }
    // Where a client looks without --socket (the system's folder only when no service is there).
    if (!QFileInfo::exists(QStringLiteral("/run/qx200d/qx200d.sock"))) {
        QProcessEnvironment elsewhere = QProcessEnvironment::systemEnvironment();
        elsewhere.insert("RUNTIME_DIRECTORY", dir.filePath("nowhere"));
        elsewhere.insert("XDG_RUNTIME_DIR", dir.filePath("nowhere"));
        const CtlRun missing = ctl({"list"}, elsewhere);
        EXPECT_EQ(missing.exitCode, 1);
        EXPECT_TRUE(missing.err.contains("nowhere/qx200d, /run/qx200d")) << missing.err.data();
        EXPECT_TRUE(missing.err.contains("qx200d may not be running"));
        elsewhere.insert("RUNTIME_DIRECTORY", QFileInfo(socket).absolutePath());
        EXPECT_EQ(ctl({"list"}, elsewhere).exitCode, 0);
    }

    // Garbage is answered and the connection goes on; a line too long is refused and closed;
    // a client that leaves before its answer costs nothing.
    {
        RawClient garbage(socket);
        ASSERT_TRUE(garbage.connected());
        garbage.send("hello\n{\"command\":\"list\"}\n");
        const QList<QByteArray> answers = garbage.receive(2).split('\n');
        ASSERT_GE(answers.size(), 2);
        EXPECT_TRUE(answers[0].startsWith(R"({"error":"bad request: not JSON)"))
            << answers[0].data();
        EXPECT_TRUE(answers[1].contains(R"("ok":true)"));

        RawClient flood(socket);
        flood.send(QByteArray(1024 * 1024, 'x'));
        EXPECT_EQ(flood.receive(1),
                  R"({"error":"request longer than 65536 bytes; closed","ok":false})"
                  "\n");
        EXPECT_TRUE(flood.closed());

        RawClient leaving(socket);
        leaving.send(R"({"command":"send","line":"CR1","projectors":["hall-1"]})"
                     "\n");
    }
    std::vector<std::unique_ptr<QProcess>> many;
    for (int i = 0; i < 6; ++i) {
        many.push_back(std::make_unique<QProcess>());
        many.back()->start(QStringLiteral(QX200CTL_PATH),
                           {"--socket", socket, "send", "hall-1", "CR1"});
    }
    for (auto& client : many) {
        EXPECT_TRUE(client->waitForFinished(30000));
        EXPECT_EQ(client->exitCode(), 0) << client->readAllStandardError().toStdString();
    }

    // A second service on the same socket gives up; the first goes on, and removes the socket
    // when it ends.
    QProcess second;
    second.start(QStringLiteral(QX200D_PATH), serviceArgs);
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("qx200d: another qx200d answers on " +
                                                       socket.toUtf8() + "\n"));
    EXPECT_EQ(ctl({"--socket", socket, "list"}).exitCode, 0);
    service.reset();
    EXPECT_FALSE(QFileInfo::exists(socket));
}

} // namespace
} // namespace qx200
