// Unplugging and plugging the projector again, over and over, under a console on its real
// serial service: the simulator on a fixed link is stopped (its pseudo-terminal goes away, as an
// adapter pulled) and started again (a new device behind the same name).
//
// QX200_UNPLUG_CYCLES sets the number of cycles (50 by default; `make unplug` runs 500).

#include "e2e/FaultSupport.h"
#include "support/Simulator.h"

#include <QMessageBox>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

namespace qx200::testing {
namespace {

int unplugCycles()
{
    bool ok = false;
    const int cycles = qEnvironmentVariableIntValue("QX200_UNPLUG_CYCLES", &ok);
    return ok && cycles > 0 ? cycles : 50;
}

TEST(FaultUnplug, EveryReplugIsFoundAgainAndNothingIsLeftBehind)
{
    constexpr int Patience = 10000;
    constexpr double MaxProcessorShare = 0.05;
    const int cycles = unplugCycles();

    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("COM1"));
    Simulator simulator({}, link);
    auto console = std::make_unique<FaultConsole>(link);
    ASSERT_TRUE(console->port.PortOpen()) << console->messages.join('\n').toStdString();
    const QString disconnected = QStringLiteral("COM1 (%1): device disconnected").arg(link);
    auto noticeShown = [&] {
        return console->form->notice().box() && console->form->notice().box()->isVisible();
    };
    auto noticeText = [&] { return console->form->notice().box()->text(); };
    int told = 0;

    // The status line as each arrival leaves it: the trace clearing may empty it again soon.
    int standBy = 0;
    console->afterEachArrival([&] {
        if (console->form->Label22->text() == QLatin1String(" Stand by"))
            ++standBy;
    });

    const int descriptorsBefore = openDescriptors();
    const qsizetype lockFilesBefore = ownLockFiles().size();
    double worstShare = 0;
    int survived = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        SCOPED_TRACE(::testing::Message() << "cycle " << cycle);
        simulator.stop();
        ASSERT_TRUE(waitUntil([&] { return console->port.deviceLost(); }, Patience))
            << "the hang-up went unnoticed";
        ASSERT_TRUE(noticeShown()) << "the operator was not told";
        if (noticeText().startsWith(disconnected))
            ++told;
        if (cycle == 0 || cycle == cycles - 1)
            worstShare = std::max(worstShare, processorShareWhileRunning(3000));

        simulator.start({});
        ASSERT_TRUE(waitUntil([&] { return !console->port.deviceLost(); }, Patience))
            << "the device was not opened again";
        EXPECT_TRUE(waitUntil([&] { return !noticeShown(); }, Patience))
            << "the notice outlived the fault";
        const int standByBefore = standBy;
        console->click("Command44"); // STATUS
        ASSERT_TRUE(waitUntil([&] { return standBy > standByBefore; }, Patience))
            << "no decoded reply; receive trace: " << console->form->Label12->text().toStdString();
        ++survived;
    }

    const int descriptorsAfter = openDescriptors();
    const qsizetype lockFilesAfter = ownLockFiles().size();
    EXPECT_EQ(survived, cycles);
    EXPECT_LT(worstShare, MaxProcessorShare) << "busy while the device is away";
    EXPECT_EQ(descriptorsAfter, descriptorsBefore);
    EXPECT_EQ(lockFilesAfter, lockFilesBefore);
    // The operator is told of every unplug, without a modal box, and of nothing else.
    EXPECT_EQ(told, cycles);
    EXPECT_TRUE(console->messages.isEmpty()) << console->messages.join('\n').toStdString();

    std::printf("unplug: %d of %d cycles survived; processor after an unplug %.1f%% (worst of "
                "first and last); descriptors %d -> %d; own lock files %lld -> %lld\n",
                survived, cycles, worstShare * 100, descriptorsBefore, descriptorsAfter,
                static_cast<long long>(lockFilesBefore), static_cast<long long>(lockFilesAfter));
    ::testing::Test::RecordProperty("cycles_survived", survived);
    ::testing::Test::RecordProperty("descriptors_before", descriptorsBefore);
    ::testing::Test::RecordProperty("descriptors_after", descriptorsAfter);

    console.reset(); // the service closes the device and drops its lock file
    EXPECT_TRUE(ownLockFiles().isEmpty()) << ownLockFiles().join(' ').toStdString();
}

} // namespace
} // namespace qx200::testing
