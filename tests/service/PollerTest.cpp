#include "service/Poller.h"
#include "support/FakeSerialPort.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace qx200 {
namespace {

using testing::FakeSerialPort;

// What a healthy projector in standby answers to each polled query.
const std::map<QByteArray, QByteArray> StandbyReplies{
    {"CR0\r", "80\r"},
    {"CR1\r", "1\r"},
    {"CR3\r", "01234\r"},
    {"CR4\r", "11\r"},
    {"CR6\r", "025.0  26.0 027.0\r"},
    {"CR7\r", "00\r"},
    {"CRA\r", "FF\r"},
    {"CR PRESSURE\r", "853\r"},
};

Readings standbyReadings()
{
    Readings r;
    r.power = PowerReading{PowerState::Standby, {}};
    r.input = InputSource::Computer1;
    r.lampHours = LampHours{1234};
    r.orientation = Orientation{false, false};
    r.temperatures = Temperatures{{25.0, 26.0, 27.0}};
    r.lamps = LampReading{LampMode::TwoLamps, false, false};
    r.mute = MuteReading{PictureSignal::Standby, false, false};
    r.pressure = Pressure{1013};
    return r;
}

// A poller on a fake port, with what it reported.
struct Rig {
    explicit Rig(ProjectorConfig config = {"hall-a", "fake", 19200, std::chrono::seconds(10)})
    {
        auto fake = std::make_unique<FakeSerialPort>();
        port = fake.get();
        poller = std::make_unique<Poller>(config, std::move(fake));
        poller->onError = [this](PollError e) { errors.push_back(e); };
        poller->onRoundEnd = [this] { ++rounds; };
        poller->onLateRound = [this] { ++late; };
        poller->onReplyTime = [this](auto) { ++replies; };
        poller->onUpChange = [this](bool up) { upChanges.push_back(up); };
    }

    QByteArray lastWrite() const
    {
        return port->writes.isEmpty() ? QByteArray() : port->writes.back();
    }

    // Answers the query just sent as a standby projector does, then lets the pause pass.
    void answerAsInStandby()
    {
        port->receive(StandbyReplies.at(lastWrite()));
        if (poller->roundRunning())
            poller->paceTick();
    }

    void healthyRound()
    {
        while (poller->roundRunning())
            answerAsInStandby();
    }

    FakeSerialPort* port = nullptr;
    std::unique_ptr<Poller> poller;
    std::vector<PollError> errors;
    int rounds = 0;
    int late = 0;
    int replies = 0;
    std::vector<bool> upChanges;
};

TEST(Poller, OpensThePortAtTheConfiguredSpeed)
{
    Rig rig({"hall-b", "fake", 9600, std::chrono::seconds(30)});
    rig.poller->start();
    EXPECT_EQ(rig.port->commPort, 1);
    EXPECT_TRUE(rig.port->open);
    EXPECT_EQ(rig.port->settings, "9600,N,8,1");
    EXPECT_EQ(rig.poller->roundTimer().interval(), 30000);
    EXPECT_TRUE(rig.poller->roundTimer().isActive());
}

TEST(Poller, SendsOneQueryAtATimeWithAPauseBetween)
{
    Rig rig;
    rig.poller->start();
    EXPECT_EQ(rig.port->writes, QByteArrayList{"CR0\r"});
    EXPECT_TRUE(rig.poller->replyTimer().isActive());
    EXPECT_EQ(rig.poller->replyTimer().interval(), 1000);
    // A coarse timer could close the window up to 5 % early.
    EXPECT_EQ(rig.poller->replyTimer().timerType(), Qt::PreciseTimer);

    rig.port->receive("8");
    EXPECT_EQ(rig.port->writes.size(), 1); // the reply has not ended
    rig.port->receive("0\r");
    EXPECT_EQ(rig.port->writes.size(), 1); // the pause comes first
    EXPECT_FALSE(rig.poller->replyTimer().isActive());
    EXPECT_TRUE(rig.poller->paceTimer().isActive());
    EXPECT_EQ(rig.poller->paceTimer().interval(), 100);

    rig.poller->paceTick();
    EXPECT_EQ(rig.port->writes, (QByteArrayList{"CR0\r", "CR1\r"}));
}

TEST(Poller, ARoundReadsEveryQuery)
{
    Rig rig;
    rig.poller->start();
    EXPECT_FALSE(rig.poller->up()); // nothing read yet
    rig.healthyRound();

    EXPECT_EQ(rig.port->writes, (QByteArrayList{"CR0\r", "CR1\r", "CR3\r", "CR4\r", "CR6\r",
                                                "CR7\r", "CRA\r", "CR PRESSURE\r"}));
    EXPECT_TRUE(rig.poller->up());
    EXPECT_EQ(rig.poller->readings(), standbyReadings());
    EXPECT_TRUE(rig.poller->lastReply().has_value());
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_EQ(rig.rounds, 1);
    EXPECT_EQ(rig.replies, 8);
    EXPECT_FALSE(rig.poller->paceTimer().isActive());
    EXPECT_FALSE(rig.poller->replyTimer().isActive());
}

struct BadReply {
    const char* name;
    QByteArrayList arrivals; // for the first query
    bool windowEnds;         // the reply window runs out after them
    PollError error;
    bool roundGoesOn;
};

class BadReplies : public ::testing::TestWithParam<BadReply> {};

TEST_P(BadReplies, AreCountedAndNeverRead)
{
    const BadReply& c = GetParam();
    Rig rig;
    rig.poller->start();
    for (const QByteArray& bytes : c.arrivals)
        rig.port->receive(bytes);
    if (c.windowEnds)
        rig.poller->replyWindowTick();
    EXPECT_EQ(rig.errors, std::vector<PollError>{c.error});
    EXPECT_EQ(rig.poller->roundRunning(), c.roundGoesOn);
    if (c.roundGoesOn) {
        rig.poller->paceTick();
        rig.healthyRound();
    }
    Readings expected = c.roundGoesOn ? standbyReadings() : Readings{};
    expected.power.reset();
    EXPECT_EQ(rig.poller->readings(), expected);
    EXPECT_EQ(rig.poller->up(), c.roundGoesOn);
}

INSTANTIATE_TEST_SUITE_P(
    Poller, BadReplies,
    ::testing::Values(
        BadReply{"Silence", {}, true, PollError::Timeout, false},
        BadReply{"QuestionMark", {"?\r"}, false, PollError::Garbled, true},
        BadReply{"UnknownRow", {"FF\r"}, false, PollError::Garbled, true},
        BadReply{"NeverEnds", {"80"}, true, PollError::Garbled, true},
        BadReply{"Flood", {QByteArray(MaxReplyBytes + 1, 'x')}, false, PollError::Garbled, true}),
    [](const ::testing::TestParamInfo<BadReply>& testCase) { return testCase.param.name; });

TEST(Poller, BytesBetweenQueriesBelongToNone)
{
    Rig rig;
    rig.poller->start();
    rig.port->receive("80\r");
    rig.port->receive("3\r"); // late, during the pause
    rig.port->pending += "9"; // came, but not yet handed over when the next query goes out
    rig.poller->paceTick();
    rig.healthyRound();
    EXPECT_EQ(rig.poller->readings(), standbyReadings());
}

TEST(Poller, ARoundWithoutAnswersDropsTheLastReadings)
{
    Rig rig;
    rig.poller->start();
    rig.healthyRound();
    ASSERT_TRUE(rig.poller->up());

    rig.poller->roundTick();
    rig.poller->replyWindowTick();
    EXPECT_FALSE(rig.poller->up());
    EXPECT_EQ(rig.poller->readings(), Readings{});
    EXPECT_TRUE(rig.poller->lastReply().has_value()); // when it last answered stays known

    rig.poller->roundTick();
    rig.healthyRound();
    EXPECT_EQ(rig.upChanges, (std::vector<bool>{true, false, true}));
}

TEST(Poller, ALostDeviceDropsItsReadingsAtOnceUntilItIsBack)
{
    Rig rig;
    rig.poller->start();
    rig.healthyRound();
    rig.poller->roundTick();
    rig.answerAsInStandby();

    rig.port->OnFault("COM1 (fake1): device disconnected");
    EXPECT_FALSE(rig.poller->up());
    EXPECT_EQ(rig.poller->readings(), Readings{});
    EXPECT_FALSE(rig.poller->roundRunning());
    EXPECT_EQ(rig.poller->fault(), "COM1 (fake1): device disconnected");
    EXPECT_EQ(rig.upChanges, (std::vector<bool>{true, false}));

    const qsizetype writes = rig.port->writes.size();
    rig.poller->roundTick();
    EXPECT_EQ(rig.port->writes.size(), writes); // nothing sent into the void
    EXPECT_EQ(rig.errors, (std::vector<PollError>{PollError::DeviceLost, PollError::DeviceLost}));

    rig.port->OnRecover();
    EXPECT_TRUE(rig.poller->fault().isEmpty());
    rig.poller->roundTick();
    rig.healthyRound();
    EXPECT_TRUE(rig.poller->up());
    EXPECT_EQ(rig.poller->readings(), standbyReadings());
}

TEST(Poller, AMissingDeviceIsTriedAgainEveryRound)
{
    Rig rig;
    rig.port->missingPorts[1] = "COM1 (fake1): No such file or directory";
    rig.poller->start();
    EXPECT_EQ(rig.upChanges, std::vector<bool>{false});
    EXPECT_EQ(rig.errors, std::vector<PollError>{PollError::DeviceLost});
    EXPECT_EQ(rig.poller->fault(), "COM1 (fake1): No such file or directory");
    EXPECT_FALSE(rig.poller->roundRunning());
    EXPECT_TRUE(rig.port->writes.isEmpty());

    rig.port->missingPorts.clear();
    rig.poller->roundTick();
    EXPECT_TRUE(rig.poller->fault().isEmpty());
    rig.healthyRound();
    EXPECT_TRUE(rig.poller->up());
}

TEST(Poller, AFailedWriteCountsAsALostDevice)
{
    Rig rig;
    rig.port->failNext(FakeSerialPort::Op::Output, "COM1 (fake1): Input/output error");
    rig.poller->start();
    EXPECT_EQ(rig.errors, std::vector<PollError>{PollError::DeviceLost});
    EXPECT_EQ(rig.poller->fault(), "COM1 (fake1): Input/output error");
    EXPECT_FALSE(rig.poller->roundRunning());

    rig.poller->roundTick();
    rig.healthyRound();
    EXPECT_TRUE(rig.poller->up());
    EXPECT_TRUE(rig.poller->fault().isEmpty());
}

TEST(Poller, ARoundDueWhileOneRunsFollowsItAtOnce)
{
    Rig rig;
    rig.poller->start();
    rig.answerAsInStandby();
    rig.poller->roundTick();
    EXPECT_EQ(rig.late, 1);
    EXPECT_EQ(rig.port->writes.size(), 2); // the running round is not disturbed
    for (int query = 1; query < 8; ++query)
        rig.answerAsInStandby();
    EXPECT_EQ(rig.rounds, 1);
    EXPECT_TRUE(rig.poller->roundRunning()); // the round that fell due
    EXPECT_EQ(rig.port->writes.back(), "CR0\r");
}

} // namespace
} // namespace qx200
