#include "support/FormFixture.h"

#include <QApplication>
#include <QFrame>
#include <QHelpEvent>
#include <QRadioButton>
#include <QTextDocumentFragment>
#include <functional>
#include <ostream>

namespace qx200::testing {
namespace {

class PortSelection : public FormFixture {
protected:
    // Opens the port panel with "COM", then clicks the option's round mark.
    void clickOption(QRadioButton* option)
    {
        click("Command33");
        ASSERT_FALSE(form->Frame8->isHidden());
        QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
    }
    void choose(QRadioButton* option)
    {
        clickOption(option);
        ASSERT_TRUE(option->isChecked()) << qPrintable(option->objectName());
    }
};

// The "COM" button and the port options say what each COM is and how it is doing, as plain text.
TEST_F(PortSelection, ToolTipsNameEachDeviceAndItsState)
{
    form->describePort = [](std::int16_t n) {
        return QStringLiteral("COM%1 = <i>dev%1</i>").arg(n);
    };
    const auto tip = [](QWidget* control) {
        QHelpEvent event(QEvent::ToolTip, {1, 1}, control->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(control, &event);
        return QTextDocumentFragment::fromHtml(control->toolTip()).toPlainText();
    };
    QWidget* com = button("Command33");
    EXPECT_EQ(tip(form->Option1), "COM1 = <i>dev1</i>: open");
    EXPECT_EQ(tip(form->Option2), "COM2 = <i>dev2</i>: not open");

    port.reachable = false;
    EXPECT_EQ(tip(form->Option1), "COM1 = <i>dev1</i>: connecting");
    port.OnFault(QStringLiteral("COM1 (fake1): connection reset"));
    EXPECT_EQ(tip(com), "COM1 = <i>dev1</i>: away; the console reconnects when it is back\n"
                        "COM2 = <i>dev2</i>: not open");
    port.reachable = true;
    port.OnRecover();
    EXPECT_EQ(tip(form->Option1), "COM1 = <i>dev1</i>: open");
}

TEST_F(PortSelection, SpeedChangesTheOpenPortAndTheNextOpeningUsesIt)
{
    choose(form->Option10);
    EXPECT_EQ(state().CommSettings, "9600,N,8,1");
    EXPECT_EQ(port.settings, "9600,N,8,1");
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.openings, 2);
    EXPECT_EQ(port.closings, 1);
    EXPECT_TRUE(form->Frame8->isHidden());

    choose(form->Option2);
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.commPort, 2);
    ASSERT_EQ(port.openedWith.size(), 3u);
    EXPECT_EQ(port.openedWith.back().port, 2);
    EXPECT_EQ(port.openedWith.back().settings, "9600,N,8,1");
    EXPECT_TRUE(form->Frame8->isHidden());

    choose(form->Option9);
    EXPECT_EQ(state().CommSettings, "19200,N,8,1");
    EXPECT_EQ(port.settings, "19200,N,8,1");
    EXPECT_EQ(port.openings, 3);
    EXPECT_TRUE(messages.isEmpty());
}

// A closed port (after a failed start-up or choice) is opened on the chosen number.
TEST_F(PortSelection, WhileClosedChoosingAPortOpensIt)
{
    port.open = false;
    choose(form->Option2);
    EXPECT_EQ(port.commPort, 2);
    EXPECT_TRUE(port.open);
    ASSERT_EQ(port.openedWith.size(), 3u);
    EXPECT_EQ(port.openedWith.back().port, 2);
    EXPECT_EQ(port.openedWith.back().settings, "19200,N,8,1");
    EXPECT_TRUE(form->Frame8->isHidden());
    EXPECT_TRUE(messages.isEmpty());
}

// A failing step of "COM2" does not stop the later steps; the last failure is reported, the
// other port number is set, the port is not reopened and the panel stays up.
struct PortFailure {
    const char* name;
    std::function<void(FakeSerialPort&)> arrange;
    QString reported;
    std::vector<std::int16_t> portsSet; // during the selection
    bool openAfter;                     // what the fake device is left at
};
void PrintTo(const PortFailure& value, std::ostream* os)
{
    *os << value.name;
}

const PortFailure PortFailures[] = {
    {"ComTwoMissing",
     [](FakeSerialPort& p) { p.missingPorts[2] = "COM2 (/dev/ttyS1): No such file or directory"; },
     "COM2 (/dev/ttyS1): No such file or directory",
     {2, 1},
     false},
    {"CloseFails",
     [](FakeSerialPort& p) { p.failNext(FakeSerialPort::Op::Close, "COM1: close failed"); },
     "COM1: close failed",
     {2, 1},
     true},
    {"NumberFails",
     [](FakeSerialPort& p) { p.failNext(FakeSerialPort::Op::CommPort, "COM2: busy"); },
     "COM2: busy",
     {1},
     false},
    {"ClosedAndComTwoMissing",
     [](FakeSerialPort& p) {
         p.open = false;
         p.missingPorts[2] = "COM2 (/dev/ttyS1): No such file or directory";
     },
     "COM2 (/dev/ttyS1): No such file or directory",
     {2, 1},
     false},
    {"CloseAndNumberFail",
     [](FakeSerialPort& p) {
         p.failNext(FakeSerialPort::Op::Close, "COM1: close failed");
         p.failNext(FakeSerialPort::Op::CommPort, "COM2: busy");
     },
     "COM2: busy",
     {1},
     true},
};

class PortSelectionFailure : public PortSelection,
                             public ::testing::WithParamInterface<PortFailure> {};

TEST_P(PortSelectionFailure, ReportsAndFallsBackToTheOtherPort)
{
    const PortFailure& failure = GetParam();
    failure.arrange(port);
    port.portsSet.clear();
    choose(form->Option2);
    EXPECT_EQ(messages, QStringList{failure.reported});
    EXPECT_EQ(port.portsSet, failure.portsSet);
    EXPECT_EQ(port.commPort, 1);
    EXPECT_EQ(port.open, failure.openAfter);
    EXPECT_EQ(port.openings, 2);
    EXPECT_TRUE(form->Option2->isChecked());
    EXPECT_FALSE(form->Option1->isChecked());
    EXPECT_FALSE(form->Frame8->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Failures, PortSelectionFailure, ::testing::ValuesIn(PortFailures),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(PortSelection, AfterAFailedChoiceChoosingTheOtherPortOpensIt)
{
    port.missingPorts[2] = "COM2 (/dev/ttyS1): No such file or directory";
    choose(form->Option2);
    ASSERT_FALSE(port.open);
    choose(form->Option1);
    EXPECT_EQ(port.commPort, 1);
    EXPECT_TRUE(port.open);
    EXPECT_EQ(port.openings, 3);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(form->Frame8->isHidden());
}

// A speed the port refuses is reported like a port failure; the settings in force stay, and
// so does the option that shows them, so the refused speed can be chosen again.
TEST_F(PortSelection, ARefusedSpeedIsReportedAndTheSpeedInForceStays)
{
    port.failNext(FakeSerialPort::Op::Settings, "COM1 (fake1): cannot set 9600 baud");
    clickOption(form->Option10);
    EXPECT_EQ(messages, QStringList{"COM1 (fake1): cannot set 9600 baud"});
    EXPECT_EQ(state().CommSettings, "19200,N,8,1");
    EXPECT_EQ(port.settings, "19200,N,8,1");
    EXPECT_TRUE(form->Option9->isChecked());
    EXPECT_FALSE(form->Option10->isChecked());
    EXPECT_FALSE(form->Frame8->isHidden());

    choose(form->Option10);
    EXPECT_EQ(state().CommSettings, "9600,N,8,1");
    EXPECT_EQ(port.settings, "9600,N,8,1");
    EXPECT_TRUE(form->Frame8->isHidden());
    EXPECT_EQ(messages.size(), 1);
}

} // namespace
} // namespace qx200::testing
