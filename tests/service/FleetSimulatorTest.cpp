// The fleet against real simulators over pseudo-terminals, on the running event loop.

#include "protocol/StatusDecoding.h"
#include "service/Fleet.h"
#include "support/EventLoop.h"
#include "support/Simulator.h"

#include <QDeadlineTimer>
#include <gtest/gtest.h>

#include <functional>

namespace qx200 {
namespace {

using std::chrono::seconds;

// Runs the event loop until the condition holds or the time is up.
bool runUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition() && !deadline.hasExpired())
        testing::runFor(10);
    return condition();
}

TEST(FleetSimulator, HealthySilentAndUnpluggedProjectorsRunIndependently)
{
    testing::Simulator healthy;
    testing::Simulator silent({QStringLiteral("--silent")});
    testing::Simulator unplugged;
    FleetConfig config;
    config.projectors = {{"hall-a", healthy.link(), 19200, seconds(1), {}, {}},
                         {"hall-b", silent.link(), 19200, seconds(1), {}, {}},
                         {"hall-<c>", unplugged.link(), 9600, seconds(1), {}, {}}};
    Fleet fleet(config);
    const Poller& a = fleet.projectors()[0]->poller();
    const Poller& b = fleet.projectors()[1]->poller();
    const Poller& c = fleet.projectors()[2]->poller();
    fleet.start();

    ASSERT_TRUE(runUntil([&] { return a.up() && c.up() && b.roundsDone() >= 2; }, 15000));
    EXPECT_FALSE(b.up());
    EXPECT_EQ(b.readings(), Readings{});

    // What the simulator holds in standby: its lamp hours, its resting temperatures give or
    // take their drift, its pressure reading within its spread.
    const Readings& r = a.readings();
    ASSERT_TRUE(r.power && r.lampHours && r.temperatures && r.pressure);
    EXPECT_EQ(r.power->state, PowerState::Standby);
    EXPECT_EQ(r.lampHours->hours, 1234);
    const std::array<double, 3> resting{25, 26, 27};
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_NEAR(r.temperatures->celsius[i], resting[i], 1.0);
    EXPECT_GE(r.pressure->hPa, *pressureFromReading(853 - 4));
    EXPECT_LE(r.pressure->hPa, *pressureFromReading(853 + 4));
    // The silent one's waiting does not lengthen the others' rounds (8 queries, 100 ms apart).
    EXPECT_LT(a.lastRoundTime(), std::chrono::milliseconds(3000));

    const QByteArray metrics = QByteArray::fromStdString(fleet.metricsText());
    EXPECT_TRUE(metrics.contains(R"(qx200_up{device=")" + silent.link().toUtf8() +
                                 R"(",projector="hall-b"} 0)"));
    EXPECT_TRUE(statusPage(fleet.snapshots()).contains("hall-&lt;c&gt;"));

    unplugged.stop();
    ASSERT_TRUE(runUntil([&] { return !c.up(); }, 5000));
    EXPECT_EQ(c.readings(), Readings{});
    EXPECT_FALSE(c.fault().isEmpty());
    EXPECT_TRUE(a.up());

    unplugged.start({});
    EXPECT_TRUE(runUntil([&] { return c.up(); }, 10000));
    EXPECT_TRUE(c.fault().isEmpty());
    EXPECT_EQ(c.readings().lampHours, LampHours{1234});
}

} // namespace
} // namespace qx200
