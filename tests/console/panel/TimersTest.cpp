#include "support/FormFixture.h"

#include <QFrame>
#include <QLineEdit>
#include <ostream>
#include <string>
#include <vector>

namespace qx200::testing {
namespace {

constexpr auto NoReply = " X X X X";

class IndicatorTimers : public FormFixture {
protected:
    void expectQuiet()
    {
        EXPECT_TRUE(state().RxText.isEmpty());
        EXPECT_EQ(state().RxPending, 0);
        EXPECT_FALSE(timer(2)->isActive());
    }
};

TEST_F(IndicatorTimers, CommandWithoutReplyShowsCrossesThenClears)
{
    click("Command17");
    ASSERT_TRUE(timer(2)->isActive());
    ASSERT_TRUE(timer(4)->isActive());
    form->Timer2_Timer();
    EXPECT_EQ(caption("Label12"), NoReply);
    EXPECT_EQ(caption("Label11"), " C 0 0 CR ");
    expectQuiet();

    form->Timer4_Timer();
    for (const char* label : {"Label11", "Label12", "Label22"})
        EXPECT_EQ(caption(label), "") << label;
    EXPECT_FALSE(timer(4)->isActive());
}

TEST_F(IndicatorTimers, ReplyInTimeStaysAfterTheWindowCloses)
{
    click("Command44"); // STATUS
    port.receive("00\r");
    form->Timer2_Timer();
    EXPECT_EQ(caption("Label12"), " 0 0 CR ");
    EXPECT_EQ(caption("Label22"), " Power ON");
    expectQuiet();

    form->Timer4_Timer();
    EXPECT_EQ(caption("Label12"), "");
    EXPECT_EQ(caption("Label22"), "");
}

TEST_F(IndicatorTimers, LateReplyStartsANewText)
{
    click("Command17");
    port.receive("0");
    form->Timer2_Timer();
    port.receive("6");
    EXPECT_EQ(state().RxText, "6");
    EXPECT_EQ(caption("Label12"), " 6 ");
    EXPECT_EQ(state().RxPending, 0);
    EXPECT_FALSE(timer(2)->isActive());
}

TEST_F(IndicatorTimers, PortPanelHidesItselfOnTheTick)
{
    click("Command33"); // COM
    EXPECT_TRUE(form->Frame8->isVisibleTo(form.get()));
    EXPECT_TRUE(timer(3)->isActive());
    EXPECT_EQ(timer(3)->interval(), 5000);
    form->Timer3_Timer();
    EXPECT_FALSE(form->Frame8->isVisibleTo(form.get()));
    EXPECT_FALSE(timer(3)->isActive());
}

TEST_F(IndicatorTimers, DataToggleStartsThePanelCountdownAfresh)
{
    form->Command34->click(); // with Timer3 stopped
    EXPECT_TRUE(timer(3)->isActive());

    click("Command33");
    QTest::qWait(60);
    ASSERT_LT(timer(3)->remainingTime(), 4960);
    form->Command34->click();
    EXPECT_TRUE(timer(3)->isActive());
    EXPECT_GE(timer(3)->remainingTime(), 4990);
    EXPECT_TRUE(form->Frame8->isVisibleTo(form.get()));
}

TEST_F(IndicatorTimers, SendingAgainKeepsTheRunningCountdowns)
{
    click("Command17");
    QTest::qWait(30);
    click("Command18");
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_TRUE(timer(4)->isActive());
    EXPECT_LE(timer(2)->remainingTime(), 480);
    EXPECT_LE(timer(4)->remainingTime(), 980);
}

TEST_F(IndicatorTimers, TimerFiveNeverRuns)
{
    click("Command33");
    click("Command4");
    QTest::mousePress(button("Command48"), Qt::LeftButton);
    form->Timer1_Timer();
    QTest::mouseRelease(button("Command48"), Qt::LeftButton);
    port.receive("00\r");
    form->Form_KeyDown(75, 2);
    QTest::mouseDClick(form->Image1, Qt::LeftButton);
    form->Text1->setText("CR0");
    click("Command95");
    form->Command34->click();
    form->Timer2_Timer();
    form->Timer3_Timer();
    form->Timer4_Timer();
    QTest::qWait(20);
    EXPECT_FALSE(timer(5)->isActive());
    EXPECT_EQ(timer(5)->interval(), 2000);
}

// The indicator intervals a send runs with: those set last, by whichever step set them.
struct Carry {
    const char* name;
    std::vector<const char*> clicks; // "hold:" presses and releases
    int timer2, timer4;
};

const Carry Carries[] = {
    {"AtStart", {"Command17"}, 500, 1000},
    {"SourceThenHoldThenOn", {"Command52", "hold:Command1", "Command17"}, 500, 1000},
    {"FreeCommandThenOn", {"Command95", "Command17"}, 2000, 2500},
};

void PrintTo(const Carry& carry, std::ostream* os)
{
    *os << carry.name;
}

class IndicatorIntervals : public FormFixture, public ::testing::WithParamInterface<Carry> {};

TEST_P(IndicatorIntervals, StayUntilAnotherStepSetsThem)
{
    for (const std::string step : GetParam().clicks) {
        if (step.starts_with("hold:")) {
            QPushButton* held = button(step.substr(5).c_str());
            QTest::mousePress(held, Qt::LeftButton);
            QTest::mouseRelease(held, Qt::LeftButton);
        } else {
            click(step.c_str());
        }
    }
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_EQ(timer(2)->interval(), GetParam().timer2);
    EXPECT_EQ(timer(4)->interval(), GetParam().timer4);
}

INSTANTIATE_TEST_SUITE_P(Sends, IndicatorIntervals, ::testing::ValuesIn(Carries),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace qx200::testing
