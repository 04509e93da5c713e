#include "support/FormFixture.h"

#include <QFrame>
#include <QRadioButton>
#include <ostream>

namespace qx200::testing {
namespace {

using StartUp = FormFixture;

TEST_F(StartUp, OpensComOneTwiceAtNineteenTwoHundredBaud)
{
    // Once by the load handler, once more by the "COM1" selection after it closed the port.
    EXPECT_EQ(port.openings, 2);
    EXPECT_EQ(port.closings, 1);
    ASSERT_EQ(port.openedWith.size(), 2u);
    for (const FakeSerialPort::Opening& opening : port.openedWith) {
        EXPECT_EQ(opening.port, 1);
        EXPECT_EQ(opening.settings, "19200,N,8,1");
    }
    EXPECT_TRUE(port.open);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(StartUp, LeavesTheConsoleStateAtItsStartValues)
{
    const ConsoleState& s = state();
    EXPECT_EQ(s.CommSettings, "19200,N,8,1");
    EXPECT_TRUE(s.CmdPrefix.isEmpty());
    EXPECT_TRUE(s.RxText.isEmpty());
    EXPECT_TRUE(s.CmdLine.isEmpty());
    EXPECT_TRUE(s.FreeCmd.isEmpty());
    EXPECT_EQ(s.RepeatSel, 0);
    EXPECT_EQ(s.RxPending, 0);
    EXPECT_EQ(s.PadMode, 0);
    EXPECT_EQ(s.PressureValue, 0);
    EXPECT_EQ(s.ServiceLevel, 0);
}

TEST_F(StartUp, ShowsTheNormalPanelWithNothingRunning)
{
    EXPECT_EQ(form->outerHeight(), 5350.0f);
    EXPECT_EQ(form->height(), (5350 - 370) / 15);
    EXPECT_TRUE(form->Frame8->isHidden());
    EXPECT_TRUE(form->Command34->isHidden());
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_FALSE(form->Option2->isChecked());
    EXPECT_TRUE(form->Option9->isChecked());
    EXPECT_FALSE(form->Option10->isChecked());
    for (int n = 1; n <= 5; ++n)
        EXPECT_FALSE(timer(n)->isActive()) << "Timer" << n;
    for (const char* label : {"Label11", "Label12", "Label22"})
        EXPECT_EQ(caption(label), "") << label;
    EXPECT_EQ(form->focusWidget(), button("Command17"));
    form->show();
    EXPECT_EQ(form->focusWidget(), button("Command17"));
    EXPECT_EQ(form->height(), (5350 - 370) / 15);
}

struct Screen {
    const char* name;
    QSize twips;
    float left, top; // expected, twips
};
void PrintTo(const Screen& value, std::ostream* os)
{
    *os << value.name;
}

// The window is 9615 twips wide outside and 9100 high as created.
const Screen Screens[] = {
    {"FullHd", {1920 * 15, 1080 * 15}, 9592.5f, 3550.0f},
    {"Xga", {1024 * 15, 768 * 15}, 2872.5f, 1210.0f},
    {"SmallerThanTheFullWindow", {640 * 15, 480 * 15}, -7.5f, -950.0f},
};

class Centring : public FormFixture, public ::testing::WithParamInterface<Screen> {
protected:
    void SetUp() override
    {
        screenTwips = GetParam().twips;
        FormFixture::SetUp();
    }
};

TEST_P(Centring, CentresTheFullHeightWindowThenShortensIt)
{
    const Screen& screen = GetParam();
    EXPECT_FLOAT_EQ(form->left(), screen.left);
    EXPECT_FLOAT_EQ(form->top(), screen.top);
    EXPECT_EQ(form->outerHeight(), 5350.0f);
    // The top stays where the full window would have been centred, so the shortened window
    // sits above the middle of the screen.
    const float gapBelow = float(screen.twips.height()) - form->top() - form->outerHeight();
    EXPECT_FLOAT_EQ(gapBelow - form->top(), 9100.0f - 5350.0f);
}

INSTANTIATE_TEST_SUITE_P(Screens, Centring, ::testing::ValuesIn(Screens),
                         [](const auto& p) { return std::string(p.param.name); });

// COM1 cannot be opened: the operator is told once, and the console comes up with the port
// closed; the "COM1" selection's failure sets the other port number, as any failed choice does.
class StartUpWithoutComOne : public FormFixture {
protected:
    void SetUp() override
    {
        port.missingPorts[1] = Failure;
        FormFixture::SetUp();
    }
    const QString Failure = QStringLiteral("COM1 (/dev/ttyS0): No such file or directory");
};

TEST_F(StartUpWithoutComOne, ReportsTheFailureOnceAndComesUpClosed)
{
    EXPECT_EQ(messages, QStringList{Failure});
    EXPECT_FALSE(port.open);
    EXPECT_EQ(port.openings, 0);
    EXPECT_EQ(port.commPort, 2);
    EXPECT_TRUE(form->Option1->isChecked());
    EXPECT_TRUE(form->Frame8->isHidden());
    EXPECT_EQ(form->outerHeight(), 5350.0f);
    form->show();
    EXPECT_TRUE(form->isVisible());
}

// The adapter plugged in after start-up: choosing a port opens it.
TEST_F(StartUpWithoutComOne, APortPluggedInLaterOpensWhenChosen)
{
    port.missingPorts.clear();
    for (QRadioButton* option : {form->Option2, form->Option1}) {
        click("Command33");
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
        EXPECT_TRUE(port.open) << qPrintable(option->objectName());
    }
    ASSERT_EQ(port.openedWith.size(), 2u);
    EXPECT_EQ(port.openedWith[0].port, 2);
    EXPECT_EQ(port.openedWith[1].port, 1);
    EXPECT_EQ(messages.size(), 1);
}

} // namespace
} // namespace qx200::testing
