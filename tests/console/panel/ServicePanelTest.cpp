#include "support/FormFixture.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <ostream>
#include <string>
#include <vector>

namespace qx200::testing {
namespace {

const QString ShowData = QStringLiteral("データを表示する");
const QString HideData = QStringLiteral("データを表示しない");
const QString Close = QStringLiteral("CLOSE");

class HiddenServicePanel : public FormFixture {
protected:
    void chord(QWidget* target, Qt::KeyboardModifiers modifiers = Qt::ControlModifier,
               Qt::Key key = Qt::Key_K)
    {
        target->setFocus();
        QTest::keyClick(target, key, modifiers);
    }
    void expectTier(float height, std::int16_t level, const QString& text, bool visible)
    {
        EXPECT_EQ(form->outerHeight(), height);
        EXPECT_EQ(state().ServiceLevel, level);
        EXPECT_EQ(form->Command34->text(), text);
        EXPECT_EQ(form->Command34->isVisibleTo(form.get()), visible);
    }
    void expectServicePanel() { expectTier(7200, 1, Close, true); }
    void expectUntouched() { expectTier(5350, 0, ShowData, false); }
};

// --- the chord through the keyboard --------------------------------------------------------

struct Chord {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool opens;
};

const Chord Chords[] = {
    {"CtrlK", Qt::Key_K, Qt::ControlModifier, true},
    {"CtrlShiftK", Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, false},
    {"CtrlAltK", Qt::Key_K, Qt::ControlModifier | Qt::AltModifier, false},
    {"CtrlShiftAltK", Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier, false},
    {"KAlone", Qt::Key_K, Qt::NoModifier, false},
    {"ShiftK", Qt::Key_K, Qt::ShiftModifier, false},
    {"AltK", Qt::Key_K, Qt::AltModifier, false},
    {"CtrlJ", Qt::Key_J, Qt::ControlModifier, false},
    {"CtrlL", Qt::Key_L, Qt::ControlModifier, false},
};

void PrintTo(const Chord& chord, std::ostream* os)
{
    *os << chord.name;
}

class KeyChord : public HiddenServicePanel, public ::testing::WithParamInterface<Chord> {};

TEST_P(KeyChord, OnlyCtrlKOpensTheServicePanel)
{
    for (const char* focused : {"Command17", "Text1"}) {
        chord(widget(focused), GetParam().modifiers, GetParam().key);
        if (GetParam().opens)
            expectServicePanel();
        else
            expectUntouched();
    }
    EXPECT_TRUE(port.writes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyChord, ::testing::ValuesIn(Chords),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// Counts the presses of K that reach a widget after the window's preview.
class KeyCounter : public QObject {
public:
    int presses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_K)
            ++presses;
        return false;
    }
};

TEST_F(HiddenServicePanel, ChordInTheEntryBoxIsTheWindowsAlone)
{
    KeyCounter counter;
    form->Text1->installEventFilter(&counter);
    form->Text1->setFocus();
    QTest::keyClick(form->Text1, Qt::Key_A);
    chord(form->Text1);
    QTest::keyClick(form->Text1, Qt::Key_B);
    expectServicePanel();
    EXPECT_EQ(form->Text1->text(), "ab");
    EXPECT_EQ(counter.presses, 0);
}

// Ctrl+K in a line edit deletes to the end of the line where the desktop's key scheme says so
// (X11); the test gives the entry box that binding whatever the platform.
class DeleteToEndOnCtrlK : public QObject {
protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (event->type() == QEvent::KeyPress && key->key() == Qt::Key_K &&
            key->modifiers() == Qt::ControlModifier) {
            auto* box = static_cast<QLineEdit*>(watched);
            box->end(true);
            box->del();
            return true;
        }
        return false;
    }
};

TEST_F(HiddenServicePanel, ChordLeavesTheTypedCommandWhole)
{
    DeleteToEndOnCtrlK x11Binding;
    form->Text1->installEventFilter(&x11Binding);
    form->Text1->setText(QStringLiteral("CR PRESSURE"));
    form->Text1->setCursorPosition(2);
    chord(form->Text1);
    expectServicePanel();
    EXPECT_EQ(form->Text1->text(), QStringLiteral("CR PRESSURE"));
    EXPECT_EQ(form->Text1->cursorPosition(), 2);
}

TEST_F(HiddenServicePanel, ChordOnAButtonDoesNotPressIt)
{
    chord(button("Command44"));
    expectServicePanel();
    EXPECT_TRUE(port.writes.isEmpty());
}

TEST_F(HiddenServicePanel, AutoRepeatChangesNothingMore)
{
    QWidget* focused = widget("Command17");
    focused->setFocus();
    QTest::keyPress(focused, Qt::Key_K, Qt::ControlModifier);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier, "k", true);
    QApplication::sendEvent(focused, &repeat);
    QTest::keyRelease(focused, Qt::Key_K, Qt::ControlModifier);
    expectServicePanel();
}

// --- the handler itself --------------------------------------------------------------------

struct KeyDown {
    const char* name;
    std::int16_t keyCode, shift;
    bool opens;
};

const KeyDown KeyDowns[] = {
    {"Ctrl", 75, 2, true},
    {"CtrlWithHighBits", 75, 2 | 0x100, true},
    {"CtrlWithBitEight", 75, 2 | 8, true},
    {"CtrlShift", 75, 3, false},
    {"CtrlAlt", 75, 6, false},
    {"CtrlShiftAlt", 75, 7, false},
    {"NoModifier", 75, 0, false},
    {"LowerCaseCode", 107, 2, false},
    {"OtherKey", 74, 2, false},
};

void PrintTo(const KeyDown& keyDown, std::ostream* os)
{
    *os << keyDown.name;
}

class KeyDownHandler : public HiddenServicePanel, public ::testing::WithParamInterface<KeyDown> {};

TEST_P(KeyDownHandler, ReducesTheShiftStateToItsLowThreeBits)
{
    form->Form_KeyDown(GetParam().keyCode, GetParam().shift);
    if (GetParam().opens)
        expectServicePanel();
    else
        expectUntouched();
}

INSTANTIATE_TEST_SUITE_P(Codes, KeyDownHandler, ::testing::ValuesIn(KeyDowns),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// --- tiers: chord, logo double-click and CLOSE ---------------------------------------------

enum class Act { Chord, LogoDoubleClick, Command34 };

struct Tiers {
    const char* name;
    std::vector<Act> acts;
    float height;
    std::int16_t level;
    const QString& caption;
    bool visible;
};

using enum Act;
const Tiers TierCases[] = {
    {"LogoFirst", {LogoDoubleClick}, 5350, 0, ShowData, false},
    {"Chord", {Chord}, 7200, 1, Close, true},
    {"ChordTwice", {Chord, Chord}, 7200, 1, Close, true},
    {"ChordThenLogo", {Chord, LogoDoubleClick}, 9100, 1, Close, true},
    {"ChordThenLogoTwice", {Chord, LogoDoubleClick, LogoDoubleClick}, 9100, 1, Close, true},
    {"FullThenChord", {Chord, LogoDoubleClick, Chord}, 7200, 1, Close, true},
    {"Closed", {Chord, Command34}, 5350, 0, ShowData, true},
    {"ClosedFull", {Chord, LogoDoubleClick, Command34}, 5350, 0, ShowData, true},
    {"ClosedThenLogo", {Chord, Command34, LogoDoubleClick}, 5350, 0, ShowData, true},
    {"ClosedThenDataView", {Chord, Command34, Command34}, 6645, 0, HideData, true},
    {"DataViewThenChord", {Command34, Chord}, 7200, 1, Close, true},
    {"DataViewThenLogo", {Command34, LogoDoubleClick}, 6645, 0, HideData, false},
};

void PrintTo(const Tiers& tiers, std::ostream* os)
{
    *os << tiers.name;
}

class ServiceTiers : public HiddenServicePanel, public ::testing::WithParamInterface<Tiers> {};

TEST_P(ServiceTiers, FollowTheSteps)
{
    const QString traces[] = {caption("Label11"), caption("Label12"), caption("Label22")};
    for (const Act act : GetParam().acts) {
        switch (act) {
        case Act::Chord:
            chord(widget("Command17"));
            break;
        case Act::LogoDoubleClick:
            QTest::mouseDClick(form->Image1, Qt::LeftButton);
            break;
        case Act::Command34:
            form->Command34->click();
            break;
        }
    }
    const Tiers& tiers = GetParam();
    expectTier(tiers.height, tiers.level, tiers.caption, tiers.visible);
    EXPECT_TRUE(port.writes.isEmpty());
    EXPECT_EQ(caption("Label11"), traces[0]);
    EXPECT_EQ(caption("Label12"), traces[1]);
    EXPECT_EQ(caption("Label22"), traces[2]);
}

INSTANTIATE_TEST_SUITE_P(Steps, ServiceTiers, ::testing::ValuesIn(TierCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

} // namespace
} // namespace qx200::testing
