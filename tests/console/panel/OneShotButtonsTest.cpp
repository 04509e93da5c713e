#include "console/panel/ButtonTables.h"
#include "support/FormFixture.h"

#include <QFrame>
#include <map>
#include <ostream>
#include <set>
#include <string>

namespace qx200::testing {
namespace {

enum class Kind { Plain, Picture, Source, Menu, Panel };

struct Expected {
    const char* control;
    const char* name; // for the test's name
    const char* line; // the bytes on the wire
    Kind kind;
};
void PrintTo(const Expected& value, std::ostream* os)
{
    *os << value.name;
}

// clang-format off
const Expected Buttons[] = {
    {"Command17", "PowerOn",        "C00\r", Kind::Plain},
    {"Command18", "PowerOff",       "C01\r", Kind::Plain},
    {"Command27", "InputPc1",       "C05\r", Kind::Plain},
    {"Command28", "InputPc2",       "C06\r", Kind::Plain},
    {"Command29", "InputVideo",     "C07\r", Kind::Plain},
    {"Command56", "InputHdmi",      "C04\r", Kind::Plain},
    {"Command23", "MenuOn",         "C1C\r", Kind::Menu},
    {"Command24", "MenuOff",        "C1D\r", Kind::Plain},
    {"Command19", "MuteOn",         "C0B\r", Kind::Plain},
    {"Command20", "MuteOff",        "C0C\r", Kind::Plain},
    {"Command21", "NoShowOn",       "C0D\r", Kind::Plain},
    {"Command22", "NoShowOff",      "C0E\r", Kind::Plain},
    {"Command25", "FreezeOn",       "C43\r", Kind::Plain},
    {"Command26", "FreezeOff",      "C44\r", Kind::Plain},
    {"Command31", "ScreenNormal",   "C0F\r", Kind::Plain},
    {"Command32", "ScreenFull",     "C10\r", Kind::Plain},
    {"Command13", "AImage",         "C89\r", Kind::Menu},
    {"Command30", "Image",          "C27\r", Kind::Plain},
    {"Command14", "PTimer",         "C8A\r", Kind::Plain},
    {"Command3",  "DisplayClear",   "C1E\r", Kind::Plain},
    {"Command4",  "Stand",          "C11\r", Kind::Picture},
    {"Command10", "Real",           "C12\r", Kind::Picture},
    {"Command11", "Cinema",         "C13\r", Kind::Picture},
    {"Command39", "Image1",         "C14\r", Kind::Picture},
    {"Command40", "Image2",         "C15\r", Kind::Picture},
    {"Command41", "Image3",         "C16\r", Kind::Picture},
    {"Command42", "Image4",         "C17\r", Kind::Picture},
    {"Command12", "BBoard",         "C18\r", Kind::Picture},
    {"Command37", "Dynamic",        "C19\r", Kind::Picture},
    {"Command33", "Com",            "",      Kind::Panel},
    {"Command38", "FanL1",          "CF FANMODE L1\r", Kind::Plain},
    {"Command43", "FanL2",          "CF FANMODE L2\r", Kind::Plain},
    {"Command44", "Status",         "CR0\r", Kind::Plain},
    {"Command45", "Mode",           "CR1\r", Kind::Plain},
    {"Command46", "LampTime",       "CR3\r", Kind::Plain},
    {"Command47", "Setting",        "CR4\r", Kind::Plain},
    {"Command54", "Temp",           "CR6\r", Kind::Plain},
    {"Command55", "LampMode",       "CR7\r", Kind::Plain},
    {"Command64", "Pc1Rgb",         "C50\r", Kind::Source},
    {"Command52", "Pc1Scart",       "C51\r", Kind::Source},
    {"Command53", "Pc1Component",   "C54\r", Kind::Source},
    {"Command58", "Pc1Hdmi",        "CF INPUT HDMI HDMI\r", Kind::Source},
    {"Command72", "Pc2Rgb",         "CF INPUT COMPUTER2 ANALOG\r", Kind::Source},
    {"Command82", "Video",          "CF INPUT VIDEO VIDEO\r", Kind::Source},
    {"Command69", "SVideo",         "CF INPUT S-VIDEO S-VIDEO\r", Kind::Source},
    {"Command36", "C02",            "C02\r", Kind::Plain},
};
// clang-format on

// Reply window and trace clearing a click leaves running; plain and menu clicks keep the start
// values 500 and 1000.
std::pair<int, int> windowFor(Kind kind)
{
    switch (kind) {
    case Kind::Picture:
        return {2000, 2500};
    case Kind::Source:
        return {5000, 5500};
    default:
        return {500, 1000};
    }
}

// The trace of a line of letters, digits, blanks and "-" ending in a carriage return.
QString traced(const QByteArray& line)
{
    QString text = " ";
    for (char c : line.chopped(1))
        text += QChar::fromLatin1(c) + QStringLiteral(" ");
    return text + "CR ";
}

constexpr int OtherRepeat = 7; // a Timer1 interval no click sets

class OneShotClick : public FormFixture, public ::testing::WithParamInterface<Expected> {};

TEST_P(OneShotClick, DoesWhatItsRowSays)
{
    const Expected& row = GetParam();
    timer(1)->setInterval(OtherRepeat);
    click(row.control);

    if (row.kind == Kind::Panel) {
        EXPECT_TRUE(port.writes.isEmpty());
        EXPECT_FALSE(form->Frame8->isHidden());
        EXPECT_TRUE(timer(3)->isActive());
        EXPECT_FALSE(timer(2)->isActive());
        EXPECT_FALSE(timer(4)->isActive());
        EXPECT_EQ(state().RxPending, 0);
        EXPECT_EQ(caption("Label11"), "");
        return;
    }
    const QByteArray line(row.line);
    EXPECT_EQ(port.writes, QByteArrayList{line});
    EXPECT_EQ(state().CmdLine, line);
    EXPECT_EQ(caption("Label11"), traced(line));
    const auto [reply, clearing] = windowFor(row.kind);
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_EQ(timer(2)->interval(), reply);
    EXPECT_TRUE(timer(4)->isActive());
    EXPECT_EQ(timer(4)->interval(), clearing);
    EXPECT_EQ(state().RxPending, 1);
    EXPECT_FALSE(timer(3)->isActive());
    const bool menu = row.kind == Kind::Menu;
    EXPECT_EQ(timer(1)->interval(), menu ? 200 : OtherRepeat);
    EXPECT_EQ(state().PadMode, menu ? 1 : 0);
    EXPECT_FALSE(timer(1)->isActive());
}

INSTANTIATE_TEST_SUITE_P(Buttons, OneShotClick, ::testing::ValuesIn(Buttons), [](const auto& p) {
    return std::string(p.param.control) + "_" + p.param.name;
});

TEST(OneShotTable, HasOneRowPerButtonInTheFivePatterns)
{
    std::map<buttons::Pattern, int> counts;
    std::set<std::string> controls;
    for (const buttons::OneShot& row : buttons::oneShots()) {
        ++counts[row.pattern];
        controls.emplace(row.control);
    }
    EXPECT_EQ(buttons::oneShots().size(), 46u);
    EXPECT_EQ(counts[buttons::Pattern::Plain], 27);
    EXPECT_EQ(counts[buttons::Pattern::PictureWindow], 9);
    EXPECT_EQ(counts[buttons::Pattern::SourceWindow], 7);
    EXPECT_EQ(counts[buttons::Pattern::MenuPacing], 2);
    EXPECT_EQ(counts[buttons::Pattern::OpenPanel], 1);
    std::set<std::string> clicked;
    for (const Expected& row : Buttons)
        clicked.emplace(row.control);
    EXPECT_EQ(controls, clicked);
}

// Plain and menu clicks run with the window the last picture or source click set.
struct CarryOver {
    const char* name;
    const char* first;
    const char* then;
    int timer2, timer4;
};
void PrintTo(const CarryOver& value, std::ostream* os)
{
    *os << value.name;
}

const CarryOver CarryOvers[] = {
    {"ScartThenPowerOn", "Command52", "Command17", 5000, 5500},
    {"RealThenMuteOn", "Command10", "Command19", 2000, 2500},
    {"HdmiSourceThenAImage", "Command58", "Command13", 5000, 5500},
};

class OneShotCarryOver : public FormFixture, public ::testing::WithParamInterface<CarryOver> {};

TEST_P(OneShotCarryOver, KeepsTheIntervalsInForce)
{
    const CarryOver& c = GetParam();
    click(c.first);
    form->Timer2_Timer();
    form->Timer4_Timer();
    click(c.then);
    EXPECT_EQ(port.writes.size(), 2);
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_EQ(timer(2)->interval(), c.timer2);
    EXPECT_TRUE(timer(4)->isActive());
    EXPECT_EQ(timer(4)->interval(), c.timer4);
}

INSTANTIATE_TEST_SUITE_P(Pairs, OneShotCarryOver, ::testing::ValuesIn(CarryOvers),
                         [](const auto& p) { return std::string(p.param.name); });

using OneShotSequence = FormFixture;

TEST_F(OneShotSequence, MenuPacingAfterAFailedSendChangesNothing)
{
    for (const char* control : {"Command13", "Command23"}) {
        timer(1)->setInterval(OtherRepeat);
        state().PadMode = 3;
        port.failNext(FakeSerialPort::Op::Output, "COM1 (/dev/ttyS0): Input/output error");
        click(control);
        EXPECT_EQ(timer(1)->interval(), OtherRepeat) << control;
        EXPECT_EQ(state().PadMode, 3) << control;
        EXPECT_FALSE(timer(2)->isActive()) << control;
    }
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(OneShotSequence, ComAgainAfterThePanelHidItself)
{
    click("Command33");
    form->Timer3_Timer();
    EXPECT_TRUE(form->Frame8->isHidden());
    EXPECT_FALSE(timer(3)->isActive());
    click("Command33");
    EXPECT_FALSE(form->Frame8->isHidden());
    EXPECT_TRUE(timer(3)->isActive());
}

} // namespace
} // namespace qx200::testing
