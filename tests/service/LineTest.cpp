#include "service/Line.h"
#include "support/PlayedLine.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace qx200 {
namespace {

using namespace std::chrono_literals;
using testing::PlayedLine;
using testing::runFor;
using testing::waitUntil;

const Origin Poller{Priority::Poller, QStringLiteral("poller")};
const Origin Controller{Priority::Controller, QStringLiteral("alice (qx200ctl)")};

// A line whose replies the test collects in the order they come.
struct Rig {
    explicit Rig(std::chrono::milliseconds interval = 10s, LineTiming timing = testing::QuickLine)
        : projector(19200, interval, timing)
    {
        QObject::connect(&line(), &Line::toOperator,
                         [this](const QByteArray& bytes) { toOperator += bytes; });
        line().open();
    }

    Line& line() { return projector.line; }
    void submit(const QByteArray& text, const Origin& origin)
    {
        line().submit(text, origin, [this](const Reply& reply) { replies.push_back(reply); });
    }
    // The projector is in this power state, as a power query read it.
    void powerIs(const QByteArray& reply)
    {
        submit("CR0", Poller);
        EXPECT_EQ(projector.heard(), "CR0\r");
        projector.say(reply + '\r');
        waitUntil([this] { return !replies.empty(); }, 2000);
        replies.clear();
    }

    PlayedLine projector;
    std::vector<Reply> replies;
    QByteArray toOperator;
};

TEST(Line, ControllersGoBeforeThePollerAndAnAcknowledgementEndsAReply)
{
    Rig rig;
    rig.submit("CR0", Poller);
    rig.submit("CR1", Poller);
    rig.submit("C05", Controller);
    EXPECT_EQ(rig.projector.heard(), "C05\r");
    rig.projector.say("\x06");
    EXPECT_EQ(rig.projector.heard(), "CR0\r");
    rig.projector.say("80\r");
    EXPECT_EQ(rig.projector.heard(), "CR1\r");
    rig.projector.say("1\r");
    ASSERT_TRUE(waitUntil([&] { return rig.replies.size() == 3; }, 2000));
    EXPECT_EQ(rig.replies[0].outcome, Reply::Outcome::Answered);
    EXPECT_EQ(rig.replies[0].bytes, "\x06");
    EXPECT_EQ(rig.replies[1].bytes, "80\r");
    EXPECT_EQ(rig.replies[2].bytes, "1\r");
    EXPECT_TRUE(rig.toOperator.isEmpty());
}

TEST(Line, APollerQueryWaitsNoLongerThanOneIntervalBehindControllers)
{
    Rig rig(100ms);
    rig.submit("C05", Controller);
    EXPECT_EQ(rig.projector.heard(), "C05\r");
    rig.submit("CR0", Poller);
    runFor(150);
    rig.submit("C06", Controller);
    rig.projector.say("\x06");
    EXPECT_EQ(rig.projector.heard(), "CR0\r");
}

struct RefusalCase {
    const char* name;
    QByteArray power;   // the power query's reply
    QByteArray before;  // a command that passed first, if any
    QByteArray command; // then this one
    bool refused;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, FollowThePowerState)
{
    const RefusalCase& c = GetParam();
    Rig rig;
    rig.powerIs(c.power);
    if (!c.before.isEmpty()) {
        rig.submit(c.before, Controller);
        EXPECT_EQ(rig.projector.heard(), c.before + '\r');
        rig.projector.say("\x06");
        ASSERT_TRUE(waitUntil([&] { return !rig.replies.empty(); }, 2000));
        rig.replies.clear();
    }
    rig.submit(c.command, Controller);
    ASSERT_TRUE(waitUntil([&] { return !rig.replies.empty(); }, 2000));
    const Reply& reply = rig.replies.front();
    if (c.refused) {
        EXPECT_EQ(reply.outcome, Reply::Outcome::Refused);
        EXPECT_TRUE(reply.reason.startsWith("hall-a: the projector is"))
            << reply.reason.toStdString();
        EXPECT_TRUE(rig.projector.heard(100).isEmpty()); // the line was not touched
    } else {
        EXPECT_NE(reply.outcome, Reply::Outcome::Refused);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Line, Refusals,
    ::testing::Values(RefusalCase{"PowerOnWhileCooling", "20", {}, "C00", true},
                      RefusalCase{"PowerOffWhileCountingDown", "40", {}, "C01", true},
                      RefusalCase{"PowerOffRightAfterPowerOn", "80", "C00", "C01", true},
                      RefusalCase{"PowerOnRightAfterPowerOff", "00", "C01", "C00", true},
                      RefusalCase{"InputInStandby", "80", {}, "C05", true},
                      RefusalCase{"MuteInStandby", "80", {}, "C0D", true},
                      RefusalCase{"InputWhenOn", "00", {}, "C06", false},
                      RefusalCase{"PowerOnInStandby", "80", {}, "C00", false},
                      RefusalCase{"QueryWhileCooling", "20", {}, "CR3", false}),
    [](const ::testing::TestParamInfo<RefusalCase>& testCase) { return testCase.param.name; });

TEST(Line, TheOperatorHoldsTheLineUntilQuietAndIsNeverRefused)
{
    LineTiming timing = testing::QuickLine;
    timing.operatorQuiet = 300ms;
    Rig rig(10s, timing);
    rig.powerIs("20"); // cooling down: a controller could not switch it on now
    ASSERT_TRUE(rig.line().attach("127.0.0.1:40312 (console)"));
    EXPECT_FALSE(rig.line().attach("127.0.0.1:40400 (console)"));

    rig.line().fromOperator("C00\r");
    EXPECT_EQ(rig.projector.heard(), "C00\r");
    rig.submit("CR0", Poller);
    rig.line().fromOperator("C3C\r");
    EXPECT_EQ(rig.projector.heard(), "C3C\r");
    rig.projector.pty.write("\x06\x06");
    EXPECT_TRUE(waitUntil([&] { return rig.toOperator == "\x06\x06"; }, 2000));
    EXPECT_TRUE(rig.projector.heard(150).isEmpty()); // the poller waits while the operator sends

    EXPECT_EQ(rig.projector.heard(2000), "CR0\r"); // and goes once the operator is quiet
    rig.projector.say("20\r");
    EXPECT_EQ(rig.toOperator, "\x06\x06"); // the poller's reply is its own
}

TEST(Line, AnOperatorLineWaitsForTheExchangeInFlight)
{
    Rig rig;
    ASSERT_TRUE(rig.line().attach("127.0.0.1:40312 (console)"));
    rig.submit("CR0", Poller);
    EXPECT_EQ(rig.projector.heard(), "CR0\r");
    rig.line().fromOperator("C3C\r");
    EXPECT_TRUE(rig.projector.heard(100).isEmpty()); // never inside another sender's exchange
    rig.projector.say("80\r");
    EXPECT_EQ(rig.projector.heard(), "C3C\r");
    ASSERT_EQ(rig.replies.size(), 1u);
    EXPECT_EQ(rig.replies[0].bytes, "80\r");
    EXPECT_TRUE(rig.toOperator.isEmpty());
}

} // namespace
} // namespace qx200
