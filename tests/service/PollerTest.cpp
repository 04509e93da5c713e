#include "service/Poller.h"
#include "support/PlayedLine.h"

#include <QFile>
#include <gtest/gtest.h>

#include <map>
#include <termios.h>
#include <vector>

namespace qx200 {
namespace {

using testing::PlayedLine;
using testing::waitUntil;

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

// A poller on a line whose projector the test plays, with what it reported.
struct Rig {
    explicit Rig(qint32 speed = 19200,
                 std::chrono::milliseconds interval = std::chrono::seconds(10))
        : projector(speed, interval), poller(projector.line)
    {
        QObject::connect(&poller, &Poller::error, [this](PollError e) { errors.push_back(e); });
        QObject::connect(&poller, &Poller::roundEnded, [this] { ++rounds; });
        QObject::connect(&poller, &Poller::lateRound, [this] { ++late; });
        QObject::connect(&poller, &Poller::replyTime, [this](double) { ++replies; });
        QObject::connect(&poller, &Poller::upChanged, [this](bool up) { upChanges.push_back(up); });
    }

    void start()
    {
        projector.line.open();
        poller.start();
    }

    // Hears the next query and answers it as a standby projector does.
    QByteArray answerAsInStandby()
    {
        const QByteArray query = projector.heard();
        if (!query.isEmpty())
            projector.say(StandbyReplies.at(query));
        return query;
    }

    QByteArrayList healthyRound()
    {
        QByteArrayList queries;
        while (poller.roundRunning() && waitUntil([this] { return projector.line.busy(); }, 2000))
            queries << answerAsInStandby();
        return queries;
    }

    PlayedLine projector;
    Poller poller;
    std::vector<PollError> errors;
    int rounds = 0;
    int late = 0;
    int replies = 0;
    std::vector<bool> upChanges;
};

TEST(Poller, OpensTheLineAtTheConfiguredSpeedAndPollsEveryInterval)
{
    Rig rig(9600, std::chrono::seconds(30));
    rig.start();
    const termios attributes = rig.projector.pty.slaveAttributes();
    EXPECT_EQ(cfgetospeed(&attributes), B9600);
    EXPECT_EQ(rig.poller.roundTimer().interval(), 30000);
    EXPECT_TRUE(rig.poller.roundTimer().isActive());
}

TEST(Poller, ARoundReadsEveryQueryOneAtATime)
{
    Rig rig;
    rig.start();
    EXPECT_FALSE(rig.poller.up()); // nothing read yet
    EXPECT_EQ(rig.healthyRound(), (QByteArrayList{"CR0\r", "CR1\r", "CR3\r", "CR4\r", "CR6\r",
                                                  "CR7\r", "CRA\r", "CR PRESSURE\r"}));
    EXPECT_TRUE(rig.poller.up());
    EXPECT_EQ(rig.poller.readings(), standbyReadings());
    EXPECT_TRUE(rig.poller.lastReply().has_value());
    EXPECT_TRUE(rig.errors.empty());
    EXPECT_EQ(rig.rounds, 1);
    EXPECT_EQ(rig.replies, 8);
}

struct BadReply {
    const char* name;
    QByteArray arrival; // for the first query
    PollError error;
    bool roundGoesOn;
};

class BadReplies : public ::testing::TestWithParam<BadReply> {};

TEST_P(BadReplies, AreCountedAndNeverRead)
{
    const BadReply& c = GetParam();
    Rig rig;
    rig.start();
    ASSERT_EQ(rig.projector.heard(), "CR0\r");
    rig.projector.pty.write(c.arrival);
    if (!waitUntil([&] { return !rig.errors.empty(); }, 300))
        rig.projector.line.replyWindowTick();
    EXPECT_EQ(rig.errors, std::vector<PollError>{c.error});
    EXPECT_EQ(rig.poller.roundRunning(), c.roundGoesOn);
    rig.healthyRound();
    Readings expected = c.roundGoesOn ? standbyReadings() : Readings{};
    expected.power.reset();
    EXPECT_EQ(rig.poller.readings(), expected);
    EXPECT_EQ(rig.poller.up(), c.roundGoesOn);
}

INSTANTIATE_TEST_SUITE_P(
    Poller, BadReplies,
    ::testing::Values(BadReply{"Silence", {}, PollError::Timeout, false},
                      BadReply{"QuestionMark", {"?\r"}, PollError::Garbled, true},
                      BadReply{"UnknownRow", {"FF\r"}, PollError::Garbled, true},
                      BadReply{"NeverEnds", {"80"}, PollError::Garbled, true},
                      BadReply{
                          "Flood", {QByteArray(MaxReplyBytes + 1, 'x')}, PollError::Garbled, true}),
    [](const ::testing::TestParamInfo<BadReply>& testCase) { return testCase.param.name; });

TEST(Poller, ARoundWithoutAnswersDropsTheLastReadings)
{
    Rig rig;
    rig.start();
    rig.healthyRound();
    ASSERT_TRUE(rig.poller.up());

    rig.poller.roundTick();
    ASSERT_FALSE(rig.projector.heard().isEmpty());
    rig.projector.line.replyWindowTick();
    EXPECT_FALSE(rig.poller.up());
    EXPECT_EQ(rig.poller.readings(), Readings{});
    EXPECT_TRUE(rig.poller.lastReply().has_value()); // when it last answered stays known

    rig.poller.roundTick();
    rig.healthyRound();
    EXPECT_EQ(rig.upChanges, (std::vector<bool>{true, false, true}));
}

TEST(Poller, AMissingDeviceIsToldAndPolledOnceItIsThere)
{
    Rig rig;
    const QString link = rig.projector.pty.link();
    QFile::rename(link, link + "-away");
    rig.start();
    EXPECT_EQ(rig.upChanges, std::vector<bool>{false});
    EXPECT_EQ(rig.errors, std::vector<PollError>{PollError::DeviceLost});
    EXPECT_TRUE(rig.poller.fault().startsWith("hall-a (" + link + "): "));
    EXPECT_FALSE(rig.poller.roundRunning());

    QFile::rename(link + "-away", link);
    ASSERT_TRUE(waitUntil([&] { return rig.projector.line.ready(); }, 3000));
    rig.poller.roundTick();
    rig.healthyRound();
    EXPECT_TRUE(rig.poller.up());
    EXPECT_TRUE(rig.poller.fault().isEmpty());
}

TEST(Poller, ALostDeviceDropsItsReadingsAtOnce)
{
    Rig rig;
    rig.start();
    rig.healthyRound();
    rig.poller.roundTick();
    rig.answerAsInStandby();
    ASSERT_FALSE(rig.projector.heard().isEmpty());

    rig.projector.pty.hangUp();
    ASSERT_TRUE(waitUntil([&] { return !rig.poller.roundRunning(); }, 3000));
    EXPECT_FALSE(rig.poller.up());
    EXPECT_EQ(rig.poller.readings(), Readings{});
    EXPECT_FALSE(rig.poller.fault().isEmpty());
    EXPECT_EQ(rig.upChanges, (std::vector<bool>{true, false}));
    EXPECT_EQ(rig.errors, std::vector<PollError>{PollError::DeviceLost});
}

// Counted when it happens: the next round may find the device back.
TEST(Poller, ALossBetweenRoundsIsCountedAtOnce)
{
    Rig rig;
    rig.start();
    rig.healthyRound();
    ASSERT_TRUE(rig.poller.up());

    rig.projector.pty.hangUp();
    ASSERT_TRUE(waitUntil([&] { return !rig.poller.up(); }, 3000));
    EXPECT_EQ(rig.errors, std::vector<PollError>{PollError::DeviceLost});
}

TEST(Poller, ARoundDueWhileOneRunsFollowsItAtOnce)
{
    Rig rig;
    rig.start();
    rig.answerAsInStandby();
    rig.poller.roundTick();
    EXPECT_EQ(rig.late, 1);
    for (int query = 1; query < 8; ++query)
        rig.answerAsInStandby();
    EXPECT_EQ(rig.rounds, 1);
    EXPECT_TRUE(rig.poller.roundRunning()); // the round that fell due
    EXPECT_EQ(rig.projector.heard(), "CR0\r");
}

} // namespace
} // namespace qx200
