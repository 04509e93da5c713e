#include "support/FormFixture.h"

#include <QMouseEvent>
#include <QWindow>
#include <ostream>
#include <string>
#include <vector>

namespace qx200::testing {
namespace {

constexpr int Kept = -1; // the press leaves that interval as it was

struct HoldRow {
    const char* control;
    const char* name;
    QByteArray line;
    std::uint8_t entry;
    int timer1, timer2, timer4;
    bool zoom;
};

// clang-format off
const HoldRow Holds[] = {
    {"Command1",  "VolPlus",         "C09\r", 1,  250,  200,  245,  false},
    {"Command2",  "VolMinus",        "C0A\r", 2,  250,  200,  245,  false},
    {"Command15", "BrightnessPlus",  "C20\r", 7,  50,   25,   25,   false},
    {"Command35", "BrightnessMinus", "C21\r", 8,  50,   25,   25,   false},
    {"Command48", "ZoomPlus",        "C30\r", 17, 250,  200,  245,  true},
    {"Command49", "ZoomMinus",       "C31\r", 18, 250,  200,  245,  true},
    {"Command50", "KeystonePlus",    "C8E\r", 19, 250,  200,  245,  false},
    {"Command51", "KeystoneMinus",   "C8F\r", 20, 250,  200,  245,  false},
    {"Command6",  "Select",          "C3F\r", 13, 500,  200,  245,  false},
    {"Command5",  "Up",              "C3C\r", 3,  Kept, Kept, Kept, false},
    {"Command7",  "Down",            "C3D\r", 4,  Kept, Kept, Kept, false},
    {"Command9",  "Left",            "C3B\r", 5,  Kept, Kept, Kept, false},
    {"Command8",  "Right",           "C3A\r", 6,  Kept, Kept, Kept, false},
};
// clang-format on

void PrintTo(const HoldRow& row, std::ostream* os)
{
    *os << row.control;
}

class HoldFixture : public FormFixture {
protected:
    void press(const char* name, Qt::MouseButton mouse = Qt::LeftButton)
    {
        QTest::mousePress(button(name), mouse);
    }
    void release(const char* name, Qt::MouseButton mouse = Qt::LeftButton)
    {
        QTest::mouseRelease(button(name), mouse);
    }
    void hold(const char* name)
    {
        press(name);
        release(name);
    }
    std::vector<int> intervals() const
    {
        return {timer(1)->interval(), timer(2)->interval(), timer(4)->interval()};
    }
    void expectIdle()
    {
        EXPECT_EQ(state().RepeatSel, 0);
        EXPECT_FALSE(timer(1)->isActive());
    }
};

class HoldButton : public HoldFixture, public ::testing::WithParamInterface<HoldRow> {};

TEST_P(HoldButton, PressSendsRepeatsAndReleaseRestsTheTimers)
{
    const HoldRow& row = GetParam();
    const std::vector<int> before = intervals();
    const std::vector<int> wanted = {row.timer1, row.timer2, row.timer4};

    press(row.control);
    EXPECT_EQ(port.writes, QByteArrayList{row.line});
    EXPECT_EQ(state().RepeatSel, row.entry);
    const std::vector<int> pressed = intervals();
    for (std::size_t i = 0; i < wanted.size(); ++i)
        EXPECT_EQ(pressed[i], wanted[i] == Kept ? before[i] : wanted[i]) << "interval " << i;
    EXPECT_TRUE(timer(1)->isActive());
    EXPECT_TRUE(button(row.control)->isDown());

    form->Timer1_Timer();
    EXPECT_EQ(port.writes, (QByteArrayList{row.line, row.line}));
    EXPECT_TRUE(timer(1)->isActive());

    port.receive("00\r");
    ASSERT_FALSE(state().RxText.isEmpty());
    release(row.control);
    expectIdle();
    EXPECT_FALSE(timer(2)->isActive()); // no " X X X X" for the last repeat
    EXPECT_TRUE(timer(4)->isActive());
    EXPECT_EQ(timer(2)->interval(), 500);
    EXPECT_EQ(timer(4)->interval(), 1000);
    EXPECT_EQ(caption("Label11"), "");
    EXPECT_EQ(caption("Label12"), "");
    EXPECT_TRUE(state().RxText.isEmpty());
    EXPECT_FALSE(button(row.control)->isDown());
    EXPECT_EQ(timer(1)->interval(), row.zoom ? 5 : pressed[0]);
    EXPECT_EQ(state().PadMode, row.zoom ? 3 : 0);
    EXPECT_EQ(port.writes.size(), 2);
}

INSTANTIATE_TEST_SUITE_P(Holds, HoldButton, ::testing::ValuesIn(Holds), [](const auto& testCase) {
    return std::string(testCase.param.control) + "_" + testCase.param.name;
});

// --- pacing of the arrows ------------------------------------------------------------------

struct Step {
    const char* control;
    bool hold; // press and release; otherwise a click
};

struct Pacing {
    const char* name;
    std::vector<Step> before;
    int timer1, timer2, timer4; // what an arrow press leaves
};

const Pacing Pacings[] = {
    {"AtStart", {}, 200, 500, 1000},
    {"AfterMenuOn", {{"Command23", false}}, 200, 150, 190},
    {"AfterAImage", {{"Command13", false}}, 200, 150, 190},
    {"AfterMenuOff", {{"Command24", false}}, 200, 500, 1000},
    {"AfterMenuOnThenOff", {{"Command23", false}, {"Command24", false}}, 200, 150, 190},
    {"AfterZoomRelease", {{"Command49", true}}, 5, 5, 5},
    {"AfterZoomThenBrightness", {{"Command48", true}, {"Command15", true}}, 50, 5, 5},
    {"AfterZoomThenMenuOn", {{"Command48", true}, {"Command23", false}}, 200, 150, 190},
    {"AfterVol", {{"Command1", true}}, 250, 500, 1000},
    {"AfterVolThenMenuOn", {{"Command1", true}, {"Command23", false}}, 200, 150, 190},
    {"AfterMenuOnThenSelect", {{"Command23", false}, {"Command6", true}}, 500, 150, 190},
};

void PrintTo(const Pacing& pacing, std::ostream* os)
{
    *os << pacing.name;
}

class ArrowPacing : public HoldFixture, public ::testing::WithParamInterface<Pacing> {};

TEST_P(ArrowPacing, FollowsTheLastStepThatSetIt)
{
    for (const Step& step : GetParam().before)
        step.hold ? hold(step.control) : click(step.control);
    port.writes.clear();

    press("Command8");
    EXPECT_EQ(port.writes, QByteArrayList{"C3A\r"});
    EXPECT_EQ(state().RepeatSel, 6);
    const Pacing& pacing = GetParam();
    EXPECT_EQ(intervals(), (std::vector<int>{pacing.timer1, pacing.timer2, pacing.timer4}));
    EXPECT_TRUE(timer(1)->isActive());
}

INSTANTIATE_TEST_SUITE_P(Arrows, ArrowPacing, ::testing::ValuesIn(Pacings),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// --- what starts and ends a hold -----------------------------------------------------------

class AnyMouseButton : public HoldFixture, public ::testing::WithParamInterface<Qt::MouseButton> {};

TEST_P(AnyMouseButton, StartsAndEndsAHold)
{
    press("Command2", GetParam());
    EXPECT_EQ(port.writes, QByteArrayList{"C0A\r"});
    EXPECT_EQ(state().RepeatSel, 2);
    EXPECT_TRUE(timer(1)->isActive());
    release("Command2", GetParam());
    expectIdle();
    EXPECT_TRUE(timer(4)->isActive());
}

INSTANTIATE_TEST_SUITE_P(Mouse, AnyMouseButton,
                         ::testing::Values(Qt::LeftButton, Qt::RightButton, Qt::MiddleButton),
                         [](const auto& testCase) {
                             switch (testCase.param) {
                             case Qt::LeftButton:
                                 return std::string("Left");
                             case Qt::RightButton:
                                 return std::string("Right");
                             default:
                                 return std::string("Middle");
                             }
                         });

class ActivationKey : public HoldFixture, public ::testing::WithParamInterface<Qt::Key> {};

TEST_P(ActivationKey, OnAFocusedHoldButtonSendsNothing)
{
    for (const HoldRow& row : Holds) {
        QPushButton* held = button(row.control);
        held->setFocus();
        QTest::keyClick(held, GetParam());
    }
    EXPECT_TRUE(port.writes.isEmpty());
    expectIdle();
}

INSTANTIATE_TEST_SUITE_P(Keys, ActivationKey,
                         ::testing::Values(Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter),
                         [](const auto& testCase) {
                             return std::string(testCase.param == Qt::Key_Space    ? "Space"
                                                : testCase.param == Qt::Key_Return ? "Return"
                                                                                   : "Enter");
                         });

using HoldRepeat = HoldFixture;

TEST_F(HoldRepeat, ProgrammaticClickSendsNothing)
{
    for (const HoldRow& row : Holds)
        button(row.control)->click();
    EXPECT_TRUE(port.writes.isEmpty());
    expectIdle();
}

TEST_F(HoldRepeat, QuickerThanTheRepeatSendsOnce)
{
    hold("Command15");
    QTest::qWait(120); // more than two repeat periods of "Brightness"
    EXPECT_EQ(port.writes, QByteArrayList{"C20\r"});
    expectIdle();
}

TEST_F(HoldRepeat, ReleaseOutsideTheButtonEndsTheHold)
{
    QPushButton* held = button("Command50");
    QTest::mousePress(held, Qt::LeftButton);
    // Qt's implicit grab hands the release to the pressed button, wherever the pointer is.
    QTest::mouseRelease(held, Qt::LeftButton, {}, held->rect().bottomRight() + QPoint(40, 40));
    expectIdle();
    EXPECT_FALSE(held->isDown());
}

TEST_F(HoldRepeat, RepeatTickWithoutAHoldDoesNothing)
{
    hold("Command1");
    port.writes.clear();
    const QByteArray line = state().CmdLine;
    form->Timer1_Timer();
    EXPECT_TRUE(port.writes.isEmpty());
    EXPECT_EQ(state().CmdLine, line);
    expectIdle();
}

TEST_F(HoldRepeat, RepeatSendsTheHeldEntryWhateverWasSentBetween)
{
    press("Command7");
    click("Command44"); // a status query in the middle of the hold
    port.writes.clear();
    form->Timer1_Timer();
    EXPECT_EQ(port.writes, QByteArrayList{"C3D\r"});
    EXPECT_EQ(state().CmdLine, "C3D\r");
}

// A real double-click through the window: the press of the second click is the only send it
// makes; the double-click event that follows it is no second press.
TEST_F(HoldRepeat, DoubleClickSendsOncePerPress)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    QPushButton* held = button("Command51");
    QWindow* window = form->windowHandle();
    const QPoint at = held->mapTo(form.get(), held->rect().center());
    QTest::mouseDClick(window, Qt::LeftButton, {}, at);
    EXPECT_EQ(port.writes, (QByteArrayList{"C8F\r", "C8F\r"}));
    expectIdle();
    EXPECT_FALSE(held->isDown());
}

// The repeat at its real pace, on the running event loop.
TEST_F(HoldRepeat, BrightnessRepeatsEveryFiftyMilliseconds)
{
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    press("Command15");
    QTest::qWait(1000);
    release("Command15");
    const auto sent = port.writes.count("C20\r");
    EXPECT_EQ(sent, port.writes.size());
    EXPECT_GE(sent, 10); // about 1000 / 50 + 1
    EXPECT_LE(sent, 30);
    port.writes.clear();
    QTest::qWait(200);
    EXPECT_TRUE(port.writes.isEmpty());
}

} // namespace
} // namespace qx200::testing
