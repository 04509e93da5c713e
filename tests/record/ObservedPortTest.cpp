// What the session record is told of a port's life: a network device counts as opened once it
// is reached, and its failures until then are the opening's.

#include "record/ObservedPort.h"
#include "support/FakeSerialPort.h"

#include <gtest/gtest.h>

namespace qx200::testing {
namespace {

struct PortLife : ::testing::Test {
    PortLife()
    {
        observed.onOpened = [this] { events << QStringLiteral("opened"); };
        observed.onOpenFailed = [this](const QString& text) { events << "open-failed " + text; };
        observed.onLost = [this](const QString& text) { events << "lost " + text; };
        observed.onBack = [this] { events << QStringLiteral("back"); };
        observed.onClosed = [this] { events << QStringLiteral("closed"); };
    }
    FakeSerialPort port;
    ObservedPort observed{port};
    QStringList events;
};

TEST_F(PortLife, ALocalDeviceIsOpenedAtOnce)
{
    observed.PortOpen(true);
    port.OnFault(QStringLiteral("unplugged"));
    port.OnRecover();
    observed.PortOpen(false);
    EXPECT_EQ(events, (QStringList{"opened", "lost unplugged", "back", "closed"}));
}

TEST_F(PortLife, ANetworkDeviceIsOpenedWhenReached)
{
    port.reachable = false;
    observed.PortOpen(true);
    EXPECT_TRUE(events.isEmpty()) << "opened while connecting";
    port.OnFault(QStringLiteral("refused"));
    port.reachable = true;
    port.OnRecover();
    port.OnFault(QStringLiteral("reset"));
    port.OnRecover();
    EXPECT_EQ(events, (QStringList{"open-failed refused", "opened", "lost reset", "back"}));
}

} // namespace
} // namespace qx200::testing
