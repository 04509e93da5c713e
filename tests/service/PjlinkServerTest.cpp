// The network controller listener on a projector's line, against the simulator over a
// pseudo-terminal, with controllers on loopback.

#include "service/pjlink/PjlinkServer.h"
#include "service/Line.h"
#include "service/pjlink/PjlinkSearch.h"
#include "support/EventLoop.h"
#include "support/Simulator.h"

#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <gtest/gtest.h>
#include <memory>

namespace qx200 {
namespace {

using namespace std::chrono_literals;

constexpr int WaitMs = 5000;

// A controller connection that reads what the listener says, line by line.
class Controller {
public:
    explicit Controller(quint16 port)
    {
        socket_.connectToHost(QHostAddress::LocalHost, port);
        testing::waitUntil([this] { return socket_.state() == QAbstractSocket::ConnectedState; },
                           WaitMs);
    }

    // The next line (without its carriage return); empty when none came in time.
    QByteArray next(int timeoutMs = WaitMs)
    {
        testing::waitUntil(
            [this] {
                buffer_ += socket_.readAll();
                return buffer_.contains('\r') ||
                       socket_.state() == QAbstractSocket::UnconnectedState;
            },
            timeoutMs);
        buffer_ += socket_.readAll();
        const qsizetype cr = buffer_.indexOf('\r');
        if (cr < 0)
            return {};
        const QByteArray line = buffer_.left(cr);
        buffer_.remove(0, cr + 1);
        return line;
    }

    QByteArray ask(const QByteArray& request)
    {
        send(request + '\r');
        return next();
    }

    void send(const QByteArray& bytes) { socket_.write(bytes); }

    bool closedWithin(int ms)
    {
        return testing::waitUntil(
            [this] {
                socket_.readAll();
                return socket_.state() == QAbstractSocket::UnconnectedState;
            },
            ms);
    }

private:
    QTcpSocket socket_;
    QByteArray buffer_;
};

class PjlinkServerTest : public ::testing::Test {
protected:
    void start(QByteArray password = {}, PjlinkTiming timing = {})
    {
        ProjectorConfig config;
        config.name = QStringLiteral("hall-1");
        config.device = simulator_.link();
        config.interval = 1s;
        line_ = std::make_unique<Line>(config);
        line_->open();
        QObject::connect(line_.get(), &Line::written,
                         [this](const QByteArray& bytes, const Origin&) { written_ << bytes; });
        server_ = std::make_unique<PjlinkServer>(*line_, std::move(password), timing);
        ASSERT_EQ(server_->listen({QHostAddress::LocalHost, 0}), QString());
        QObject::connect(server_.get(), &PjlinkServer::loginRefused, [this] { ++refused_; });
        QObject::connect(server_.get(), &PjlinkServer::answered,
                         [this](const QByteArray& command, const QByteArray& result) {
                             answered_ << command + ' ' + result;
                         });
    }

    std::unique_ptr<Controller> login(const QByteArray& password)
    {
        auto controller = std::make_unique<Controller>(server_->port());
        const QByteArray greeting = controller->next();
        EXPECT_TRUE(greeting.startsWith("PJLINK 1 ")) << greeting.constData();
        controller->send(pjlink::digestOf(greeting.mid(9), password));
        return controller;
    }

    testing::Simulator simulator_{{QStringLiteral("--warmup-ms"), QStringLiteral("1000"),
                                   QStringLiteral("--cooldown-ms"), QStringLiteral("1000")}};
    std::unique_ptr<Line> line_;
    std::unique_ptr<PjlinkServer> server_;
    QList<QByteArray> written_;
    QList<QByteArray> answered_;
    int refused_ = 0;
};

TEST_F(PjlinkServerTest, AuthenticatesAndRefusesWrongDigestsThenTheAddress)
{
    start("secret", {.lockout = 1500ms});
    auto good = login("secret");
    EXPECT_EQ(good->ask("%1POWR ?"), "%1POWR=0");
    EXPECT_EQ(good->ask("%1CLSS ?"), "%1CLSS=2"); // no digest after the first request

    for (int i = 0; i < PjlinkServer::MaxWrongDigests; ++i) {
        auto wrong = login("guess");
        wrong->send("%1POWR ?\r");
        EXPECT_EQ(wrong->next(), "PJLINK ERRA");
        EXPECT_TRUE(wrong->closedWithin(WaitMs));
    }
    // The address is refused now, even with the right password; the others' session goes on.
    Controller locked(server_->port());
    EXPECT_EQ(locked.next(), "PJLINK ERRA");
    EXPECT_TRUE(locked.closedWithin(WaitMs));
    EXPECT_EQ(refused_, PjlinkServer::MaxWrongDigests + 1);
    EXPECT_EQ(good->ask("%1INF1 ?"), "%1INF1=qx200d");

    testing::runFor(1600);
    auto again = login("secret");
    EXPECT_EQ(again->ask("%1NAME ?"), "%1NAME=hall-1");
    EXPECT_TRUE(answered_.contains("POWR ok"));
}

TEST_F(PjlinkServerTest, EightControllersShareTheLineAndAConsoleMakesThemWait)
{
    start();
    std::vector<std::unique_ptr<Controller>> controllers;
    for (int i = 0; i < 8; ++i) {
        controllers.push_back(std::make_unique<Controller>(server_->port()));
        EXPECT_EQ(controllers.back()->next(), "PJLINK 0");
    }
    EXPECT_EQ(server_->controllers().size(), 8);
    for (auto& controller : controllers)
        controller->send("%1POWR ?\r%1LAMP ?\r");
    for (auto& controller : controllers) {
        EXPECT_EQ(controller->next(), "%1POWR=0");
        EXPECT_EQ(controller->next(), "%1LAMP=1234 0 1234 0");
    }
    // Sixteen requests, one exchange per query on the line.
    EXPECT_EQ(written_, (QList<QByteArray>{"CR0\r", "CR3\r", "CR7\r"}));

    // A console active on the line: commands are unavailable at once, fresh readings still
    // answer, nothing of the controllers' reaches the line.
    ASSERT_TRUE(line_->attach(QStringLiteral("console")));
    line_->fromOperator("CR1\r");
    written_.clear();
    EXPECT_EQ(controllers[0]->ask("%1POWR 1"), "%1POWR=ERR3");
    testing::runFor(1100);
    EXPECT_EQ(controllers[1]->ask("%1POWR ?"), "%1POWR=ERR3");
    EXPECT_EQ(written_, QList<QByteArray>{});
    line_->detach();
    EXPECT_EQ(controllers[1]->ask("%1POWR 1"), "%1POWR=OK");
    EXPECT_EQ(controllers[2]->ask("%1POWR ?"), "%1POWR=3");
    // Cooling down cannot be ordered during warm-up: refused without touching the line.
    written_.clear();
    EXPECT_EQ(controllers[3]->ask("%1POWR 0"), "%1POWR=ERR3");
    EXPECT_EQ(written_, QList<QByteArray>{});
    EXPECT_TRUE(answered_.contains("POWR err3"));

    // Freezing is told by the lines written, a console's included; it thaws off the on state.
    EXPECT_EQ(controllers[4]->ask("%2FREZ ?"), "%2FREZ=0");
    // Asked again until warmed up: each answer read before the next question.
    QByteArray power;
    for (int waited = 0;
         (power = controllers[4]->ask("%1POWR ?")) != "%1POWR=1" && waited < 2 * WaitMs;
         waited += 100)
        testing::runFor(100);
    ASSERT_EQ(power, "%1POWR=1");
    EXPECT_EQ(controllers[4]->ask("%2FREZ 1"), "%2FREZ=OK");
    EXPECT_EQ(controllers[5]->ask("%2FREZ ?"), "%2FREZ=1");
    EXPECT_EQ(controllers[5]->ask("%1POWR 0"), "%1POWR=OK");
    EXPECT_EQ(controllers[5]->ask("%2FREZ ?"), "%2FREZ=0");
}

TEST_F(PjlinkServerTest, ClosesIdleLongAndGarbledConnections)
{
    start({}, {.idle = 300ms});
    Controller idle(server_->port());
    EXPECT_EQ(idle.next(), "PJLINK 0");
    idle.send("%1PO"); // half a request, then nothing
    EXPECT_FALSE(idle.closedWithin(150));
    EXPECT_TRUE(idle.closedWithin(3000));

    Controller longLine(server_->port());
    longLine.send(QByteArray(1024 * 1024, 'x'));
    EXPECT_TRUE(longLine.closedWithin(WaitMs));

    Controller garbage(server_->port());
    garbage.send(QByteArray("\x00\xff\x01hello\r", 9));
    EXPECT_TRUE(garbage.closedWithin(WaitMs));

    // Lenient in what it takes: lower case, CR LF, stray blanks.
    Controller sloppy(server_->port());
    EXPECT_EQ(sloppy.next(), "PJLINK 0");
    EXPECT_EQ(sloppy.ask("%1inst  ? \n"), "%1INST=11 12 21 31");
    EXPECT_EQ(sloppy.ask("%1clss ?"), "%1CLSS=2");
    EXPECT_EQ(written_, QList<QByteArray>{});
}

TEST_F(PjlinkServerTest, NotifiesTheLastControllerOfPowerAndInput)
{
    start();
    QUdpSocket notifications;
    ASSERT_TRUE(notifications.bind(QHostAddress::LocalHost, 0));
    server_->setNotificationPort(notifications.localPort());
    Poller poller(*line_);
    server_->watch(poller);
    poller.start();
    Controller controller(server_->port());
    EXPECT_EQ(controller.next(), "PJLINK 0");
    ASSERT_TRUE(testing::waitUntil([&] { return poller.roundsDone() >= 1; }, WaitMs));
    EXPECT_EQ(controller.ask("%1POWR 1"), "%1POWR=OK");
    QList<QByteArray> told;
    const auto tells = [&](const QByteArray& datagram) {
        return testing::waitUntil(
            [&] {
                while (notifications.hasPendingDatagrams())
                    told << notifications.receiveDatagram().data();
                return told.contains(datagram);
            },
            15000);
    };
    EXPECT_TRUE(tells("%2POWR=3\r"));
    EXPECT_TRUE(tells("%2POWR=1\r"));
    EXPECT_EQ(controller.ask("%1INPT 31"), "%1INPT=OK");
    EXPECT_TRUE(tells("%2INPT=31\r"));
    EXPECT_FALSE(told.contains("%2INPT=11\r")); // the input before was not a change
}

TEST(PjlinkSearch, EachProjectorOnTheAddressAnswersASearch)
{
    const QByteArray a = pjlink::hardwareAddressOf(QStringLiteral("hall-1"));
    const QByteArray b = pjlink::hardwareAddressOf(QStringLiteral("hall-2"));
    PjlinkSearch search({a, b});
    ASSERT_EQ(search.bind(QHostAddress::LocalHost, 0), QString());
    QUdpSocket controller;
    ASSERT_TRUE(controller.bind(QHostAddress::LocalHost, 0));
    controller.writeDatagram("%2SRCH garbage", QHostAddress::LocalHost, search.port());
    controller.writeDatagram("%2SRCH\r", QHostAddress::LocalHost, search.port());
    QList<QByteArray> answers;
    testing::waitUntil(
        [&] {
            while (controller.hasPendingDatagrams())
                answers << controller.receiveDatagram().data();
            return answers.size() >= 2;
        },
        WaitMs);
    testing::runFor(100); // nothing more comes
    while (controller.hasPendingDatagrams())
        answers << controller.receiveDatagram().data();
    EXPECT_EQ(answers, (QList<QByteArray>{"%2ACKN=" + a + '\r', "%2ACKN=" + b + '\r'}));
}

} // namespace
} // namespace qx200
