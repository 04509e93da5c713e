// The console attached to a projector through qx200d: the real service program owns the line (a
// pseudo-terminal whose far end the test answers as the projector, seeing every byte written),
// the real console window attaches to the projector's console address with `--com1
// tcp:127.0.0.1:PORT`, and raw clients try what a console never does.

#include "e2e/FaultSupport.h"
#include "service/ConsoleServer.h"
#include "service/Poller.h"
#include "support/FleetProcesses.h"
#include "support/PseudoTerminal.h"
#include "support/Refusal.h"
#include "support/ScopedVariable.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace qx200::testing {
namespace {

constexpr int Patience = 15000;
constexpr int QuietMs = 2000; // operator_quiet

bool isPollerQuery(const QByteArray& line)
{
    for (const StatusQuery query : PolledQueries) {
        if (line == queryCode(query).toByteArray() + '\r')
            return true;
    }
    return false;
}

// The projector at the master of the line: every whole line it is sent, when, and its answer.
class FakeProjector {
public:
    struct Seen {
        QByteArray line;
        qint64 atMs;
    };

    FakeProjector(const PseudoTerminal& line, const QElapsedTimer& clock)
        : line_(line), clock_(clock), readable_(line.master(), QSocketNotifier::Read)
    {
        QObject::connect(&readable_, &QSocketNotifier::activated, [this] { read(); });
    }

    static QByteArray answer(const QByteArray& line)
    {
        if (isPollerQuery(line))
            return "00\r";
        return line == "CR9\r" ? QByteArray("4321\r") : QByteArray("\x06");
    }

    std::vector<Seen> seen;

private:
    void read()
    {
        char buffer[4096];
        for (ssize_t n; (n = ::read(line_.master(), buffer, sizeof buffer)) > 0;)
            partial_.append(buffer, n);
        for (qsizetype cr; (cr = partial_.indexOf('\r')) >= 0;) {
            seen.push_back({partial_.first(cr + 1), clock_.elapsed()});
            partial_.remove(0, cr + 1);
            line_.write(answer(seen.back().line));
        }
    }

    const PseudoTerminal& line_;
    const QElapsedTimer& clock_;
    QSocketNotifier readable_;
    QByteArray partial_;
};

class ServiceConsole : public ::testing::Test {
protected:
    void SetUp() override
    {
        clock.start();
        line = std::make_unique<PseudoTerminal>();
        projector = std::make_unique<FakeProjector>(*line, clock);
        const QString config = dir.filePath(QStringLiteral("qx200d.yml"));
        writeFile(config, "projectors:\n  - name: hall-1\n    device: " + line->link().toUtf8() +
                              "\n    interval: 500ms\n    console: " + consoleAddress().toUtf8() +
                              "\noperator_quiet: 2s\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        environment.remove(QStringLiteral("RUNTIME_DIRECTORY"));
        service.setProcessEnvironment(environment);
        service.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        QObject::connect(&service, &QProcess::readyReadStandardError,
                         [this] { log += service.readAllStandardError(); });
        service.start(QStringLiteral(QX200D_PATH),
                      {QStringLiteral("--config"), config, QStringLiteral("--listen"),
                       QStringLiteral("127.0.0.1:%1").arg(httpPort)});
        ASSERT_TRUE(HttpClient().awaitOk(metricsUrl(), Patience)) << log.toStdString();
    }
    void TearDown() override
    {
        console.reset();
        EXPECT_EQ(stopChild(service), 0) << log.toStdString();
        EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("qx200d/consoles"))));
    }

    QString consoleAddress() const { return QStringLiteral("127.0.0.1:%1").arg(consolePort); }
    QUrl metricsUrl() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/metrics").arg(httpPort));
    }

    // The console window on the console address, its traffic seen as it crosses its port.
    void attachConsole()
    {
        console = std::make_unique<FaultConsole>(QStringLiteral("tcp:") + consoleAddress());
        console->openServicePanel();
        console->recorder.onOutput = [this](const QByteArray& bytes) { sent += bytes; };
        console->recorder.onInput = [this](const QByteArray& bytes) { received += bytes; };
        console->recorder.onLost = [this](const QString&) { ++lost; };
        console->recorder.onBack = [this] { ++back; };
        ASSERT_TRUE(waitUntil([this] { return console->port.DeviceReady(); }, Patience))
            << log.toStdString();
        EXPECT_EQ(lost, 0) << log.toStdString();
    }

    // What the console's lines became on the wire, and what the projector answered them.
    QByteArray operatorLines(QByteArray* answers = nullptr) const
    {
        QByteArray lines;
        for (const auto& seen : projector->seen) {
            if (!isPollerQuery(seen.line)) {
                lines += seen.line;
                if (answers)
                    *answers += FakeProjector::answer(seen.line);
            }
        }
        return lines;
    }
    qsizetype pollerQueries() const
    {
        return std::ranges::count_if(projector->seen,
                                     [](const auto& seen) { return isPollerQuery(seen.line); });
    }
    bool logged(const QString& text) const { return log.contains(text.toUtf8()); }

    QElapsedTimer clock;
    QTemporaryDir dir;
    quint16 consolePort = freeLocalPort();
    quint16 httpPort = freeLocalPort();
    std::unique_ptr<PseudoTerminal> line;
    std::unique_ptr<PseudoTerminal> replugged;
    std::unique_ptr<FakeProjector> projector;
    QProcess service;
    QByteArray log; // the service's standard error
    std::unique_ptr<FaultConsole> console;
    QByteArray sent, received;
    int lost = 0, back = 0;
};

TEST_F(ServiceConsole, TheOperatorHasTheLineWhileItSends)
{
    ASSERT_NO_FATAL_FAILURE(attachConsole());
    ASSERT_TRUE(waitUntil([this] { return pollerQueries() >= 8; }, Patience));

    console->form->Text1->setText(QStringLiteral("CR9"));
    console->click("Command95"); // SEND
    console->click("Command1");  // VOL +
    ASSERT_TRUE(waitUntil([this] { return received.contains("4321\r"); }, Patience));

    // The arrows on their fastest repeat (5 ms), the up arrow held for a second.
    console->click("Command48");
    runFor(200);
    QElapsedTimer held;
    held.start();
    QTest::mousePress(console->button("Command5"), Qt::LeftButton);
    runFor(500);
    const HttpReply metrics = HttpClient().get(metricsUrl());
    runFor(int(std::max<qint64>(0, 1000 - held.elapsed())));
    QTest::mouseRelease(console->button("Command5"), Qt::LeftButton);
    const qint64 releasedAt = clock.elapsed();
    const qint64 heldMs = held.elapsed();
    EXPECT_EQ(metrics.status, 200);

    // The poller's turn again once the operator has been quiet.
    const qsizetype before = pollerQueries();
    ASSERT_TRUE(waitUntil([&] { return pollerQueries() > before; }, QuietMs + Patience));
    EXPECT_TRUE(waitUntil([&] { return operatorLines() == sent; }, Patience))
        << "sent " << sent.size() << " bytes, the wire carried " << operatorLines().size();
    QByteArray answers;
    operatorLines(&answers);
    EXPECT_TRUE(waitUntil([&] { return received == answers; }, Patience))
        << "the console received \"" << received.toStdString() << "\"";

    // The held arrow's lines on the wire: about one every 5 ms while held, none long after.
    std::vector<qint64> arrows;
    for (const auto& seen : projector->seen) {
        if (seen.line == "C3C\r")
            arrows.push_back(seen.atMs);
    }
    ASSERT_FALSE(arrows.empty());
    EXPECT_GE(double(arrows.size()), 0.4 * double(heldMs) / 5) << heldMs << " ms held";
    EXPECT_LE(double(arrows.size()), 1.2 * double(heldMs) / 5 + 10) << heldMs << " ms held";
    EXPECT_LT(arrows.back() - releasedAt, 500);

    // No poller query between an operator line and operator_quiet after it.
    constexpr qint64 ClockMarginMs = 300;
    std::optional<qint64> operatorAt;
    for (const auto& seen : projector->seen) {
        if (!isPollerQuery(seen.line)) {
            operatorAt = seen.atMs;
        } else if (operatorAt) {
            EXPECT_GE(seen.atMs - *operatorAt, QuietMs - ClockMarginMs)
                << seen.line.toStdString() << " at " << seen.atMs << " ms";
        }
    }
}

TEST_F(ServiceConsole, OneOperatorAtATimeAndBackAfterAnUnpluggedLine)
{
    ASSERT_NO_FATAL_FAILURE(attachConsole());

    // The console cannot open the line itself; it is told where to attach.
    const QByteArray runtime = QFile::encodeName(dir.path());
    ScopedVariable xdg{"XDG_RUNTIME_DIR", &runtime};
    ScopedVariable systemd{"RUNTIME_DIRECTORY", nullptr};
    QtSerialPort direct{[this](std::int16_t) { return line->link(); }};
    direct.CommPort(1);
    direct.Settings("19200,N,8,1");
    const QString refusal = openingRefusal(direct);
    EXPECT_TRUE(refusal.contains(QStringLiteral("qx200d")) &&
                refusal.endsWith(": attach with --com1 tcp:" + consoleAddress()))
        << refusal.toStdString();

    // A second console is told who holds the line and let go at once.
    QTcpSocket second;
    second.connectToHost(QHostAddress::LocalHost, consolePort);
    ASSERT_TRUE(second.waitForConnected(Patience));
    const quint16 secondPort = second.localPort();
    ASSERT_TRUE(
        waitUntil([&] { return second.state() == QAbstractSocket::UnconnectedState; }, Patience));
    EXPECT_TRUE(second.readAll().startsWith("qx200d: hall-1: 127.0.0.1:"));
    EXPECT_TRUE(waitUntil(
        [&] {
            return logged(QStringLiteral("hall-1: console from 127.0.0.1:%1 refused: 127.0.0.1:")
                              .arg(secondPort));
        },
        Patience))
        << log.toStdString();

    // Unplugged: the console's connection is closed; a new device behind the same link, and it
    // attaches again and drives the projector.
    projector.reset();
    line->hangUp();
    ASSERT_TRUE(waitUntil([this] { return lost == 1; }, Patience)) << log.toStdString();
    replugged = std::make_unique<PseudoTerminal>(line->link());
    projector = std::make_unique<FakeProjector>(*replugged, clock);
    ASSERT_TRUE(waitUntil([this] { return back == 1; }, Patience)) << log.toStdString();
    console->click("Command1");
    EXPECT_TRUE(waitUntil([this] { return operatorLines() == "C09\r"; }, Patience))
        << operatorLines().toStdString() << "\n"
        << log.toStdString();
}

// A raw client connected to the console address; `receiveBuffer` small makes it one that soon
// stops taking what is sent.
int rawClient(quint16 port, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void send(int fd, const QByteArray& bytes)
{
    ASSERT_EQ(::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL), bytes.size());
}

TEST_F(ServiceConsole, ClientsThatMisbehaveAreLetGoAndTheServiceGoesOn)
{
    // Half a line, then gone: nothing of it is written.
    int fd = rawClient(consolePort);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(waitUntil([this] { return logged(" attached\n"); }, Patience));
    send(fd, "C0");
    runFor(200);
    ::close(fd);
    ASSERT_TRUE(waitUntil([this] { return logged("detached"); }, Patience)) << log.toStdString();
    EXPECT_TRUE(logged("in the middle of a line")) << log.toStdString();

    // A line that never ends is garbage.
    fd = rawClient(consolePort);
    send(fd, QByteArray(ConsoleServer::MaxLineBytes + 1, 'x'));
    EXPECT_TRUE(waitUntil([this] { return logged("garbage"); }, Patience)) << log.toStdString();
    ::close(fd);

    // A client that never reads while the projector talks to it: dropped past 64 KiB unsent.
    fd = rawClient(consolePort, 1);
    ASSERT_TRUE(waitUntil([this] { return log.count(" attached\n") == 3; }, Patience));
    const QByteArray noise(16 * 1024, 'n');
    qint64 pushed = 0;
    QElapsedTimer resend;
    while (!logged("does not read") && pushed < (64 << 20)) {
        if (!resend.isValid() || resend.elapsed() > 500) {
            send(fd, "C09\r"); // keeps the line the operator's
            resend.start();
        }
        line->write(noise);
        pushed += noise.size();
        runFor(1);
    }
    EXPECT_TRUE(logged("does not read")) << pushed << " bytes from the projector";
    ::close(fd);

    EXPECT_EQ(operatorLines().count("C09\r"), operatorLines().size() / 4)
        << "only whole lines of the operator's: " << operatorLines().left(200).toStdString();
    EXPECT_EQ(HttpClient().get(metricsUrl()).status, 200);
    const qsizetype before = pollerQueries();
    EXPECT_TRUE(waitUntil([&] { return pollerQueries() > before; }, QuietMs + Patience));
}

} // namespace
} // namespace qx200::testing
