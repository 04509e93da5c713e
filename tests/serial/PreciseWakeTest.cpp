#include "serial/PreciseWake.h"
#include "support/EventLoop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using namespace std::chrono_literals;

struct Wakeful {
    Wakeful(int intervalMs)
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(intervalMs);
        wake = new PreciseWake(timer);
    }
    QTimer timer;
    PreciseWake* wake; // owned by the timer
};

TEST(PreciseWake, IsSetForTheTimersDueTimeAndClearedWhenItStops)
{
    Wakeful subject(200);
    EXPECT_FALSE(subject.wake->untilWake()) << "set for a timer that is not running";

    subject.timer.start();
    auto left = subject.wake->untilWake();
    ASSERT_TRUE(left);
    EXPECT_GT(*left, 150ms);
    EXPECT_LE(*left, 200ms);

    subject.timer.setInterval(50); // restarts the running timer, and so the wake
    left = subject.wake->untilWake();
    ASSERT_TRUE(left);
    EXPECT_LE(*left, 50ms);

    subject.timer.stop();
    EXPECT_FALSE(subject.wake->untilWake());
}

// Each tick sets the wake one interval on (Qt may fire the timer a few microseconds before the
// wake when the loop happens to be awake); a handler that gives a new interval sets it from
// then, and one that stops its own timer clears it.
TEST(PreciseWake, FollowsTheTicksAndTheHandlersChanges)
{
    Wakeful subject(20);
    QEventLoop loop;
    std::vector<std::optional<std::chrono::nanoseconds>> seen;
    QObject::connect(&subject.timer, &QTimer::timeout, [&] {
        seen.push_back(subject.wake->untilWake());
        if (seen.size() == 3)
            subject.timer.setInterval(40);
        if (seen.size() == 5) {
            subject.timer.stop();
            loop.quit();
        }
    });
    subject.timer.start();
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();

    ASSERT_EQ(seen.size(), 5u);
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const auto interval = i < 3 ? 20ms : 40ms;
        ASSERT_TRUE(seen[i]) << "tick " << i;
        EXPECT_GT(*seen[i], interval / 2) << "tick " << i;
        EXPECT_LE(*seen[i], interval + 1ms) << "tick " << i;
    }
    EXPECT_FALSE(subject.wake->untilWake());
}

// The timer's own ticks pass through at their pace, and the event loop sleeps between them.
TEST(PreciseWake, LeavesTheTicksToTheTimerAndTheLoopIdleBetween)
{
    Wakeful subject(5);
    int ticks = 0;
    QObject::connect(&subject.timer, &QTimer::timeout, [&] { ++ticks; });
    subject.timer.start();
    const double share = testing::processorShareWhileRunning(500);
    subject.timer.stop();
    EXPECT_LT(share, 0.5);
    EXPECT_GE(ticks, 50);
    EXPECT_LE(ticks, 110);
}

} // namespace
} // namespace qx200
