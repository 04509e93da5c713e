#include "support/FormFixture.h"

#include <QLineEdit>
#include <ostream>
#include <string>

namespace qx200::testing {
namespace {

const QString ShowData = QStringLiteral("データを表示する");
const QString HideData = QStringLiteral("データを表示しない");

class FreeCommandEntry : public FormFixture {
protected:
    void send(const QString& typed)
    {
        form->Text1->setText(typed);
        click("Command95");
    }
};

// --- "SEND" --------------------------------------------------------------------------------

struct Typed {
    const char* name;
    QString text;
    QByteArray line;
};

const Typed TypedLines[] = {
    {"StatusQuery", "CR0", "CR0\r"},
    {"Empty", "", "\r"},
    {"KeptAsTyped", " cr Pressure ", " cr Pressure \r"},
    {"OutsideLatin1", QStringLiteral("C€0"), "C?0\r"},
    {"OutsideTheBasicPlane", QStringLiteral("C😀0"), "C?0\r"}, // one character, one "?"
    {"Latin1", QStringLiteral("Cé0"),
     "C\xe9"
     "0\r"},
    {"ControlCharacters", QStringLiteral("A\tB\x01\x14"), "A\tB\x01\x14\r"},
};

void PrintTo(const Typed& typed, std::ostream* os)
{
    *os << typed.name;
}

class SendTyped : public FreeCommandEntry, public ::testing::WithParamInterface<Typed> {};

TEST_P(SendTyped, WritesTheTextAndACarriageReturn)
{
    send(GetParam().text);
    EXPECT_EQ(port.writes, QByteArrayList{GetParam().line});
    EXPECT_EQ(state().CmdLine, GetParam().line);
    EXPECT_EQ(state().FreeCmd + '\r', GetParam().line);
    EXPECT_EQ(timer(2)->interval(), 2000);
    EXPECT_EQ(timer(4)->interval(), 2500);
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_EQ(state().RxPending, 1);
    EXPECT_EQ(form->Text1->text(), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Lines, SendTyped, ::testing::ValuesIn(TypedLines),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(FreeCommandEntry, SendTwiceSendsTheSameLineTwice)
{
    send("C00");
    click("Command95");
    EXPECT_EQ(port.writes, (QByteArrayList{"C00\r", "C00\r"}));
}

TEST_F(FreeCommandEntry, EnterInTheBoxSendsNothing)
{
    form->Text1->setFocus();
    QTest::keyClicks(form->Text1, "C00");
    QTest::keyClick(form->Text1, Qt::Key_Return);
    QTest::keyClick(form->Text1, Qt::Key_Enter);
    EXPECT_TRUE(port.writes.isEmpty());
    EXPECT_EQ(form->Text1->text(), "C00");
}

TEST_F(FreeCommandEntry, ClsEmptiesTheBoxOnly)
{
    click("Command44");
    port.receive("00\r");
    send("CR1");
    port.receive("1\r");
    const QString traces[] = {caption("Label11"), caption("Label12"), caption("Label22")};

    click("Command96");
    EXPECT_EQ(form->Text1->text(), "");
    EXPECT_EQ(caption("Label11"), traces[0]);
    EXPECT_EQ(caption("Label12"), traces[1]);
    EXPECT_EQ(caption("Label22"), traces[2]);
    EXPECT_EQ(state().FreeCmd, "CR1");
    EXPECT_EQ(state().CmdLine, "CR1\r");
    EXPECT_EQ(port.writes.size(), 2);

    click("Command95");
    EXPECT_EQ(port.writes.last(), "\r");
}

struct Decoding {
    const char* name;
    QString typed;
    QString status;
};

const Decoding Decodings[] = {
    {"UpperCase", "CR0", " Power ON"},
    {"LowerCase", "cr0", ""},
    {"LeadingSpace", " CR0", ""},
    {"TrailingSpace", "CR0 ", ""},
};

void PrintTo(const Decoding& decoding, std::ostream* os)
{
    *os << decoding.name;
}

class TypedQuery : public FreeCommandEntry, public ::testing::WithParamInterface<Decoding> {};

TEST_P(TypedQuery, IsDecodedOnlyWhenItIsTheQueryExactly)
{
    send(GetParam().typed);
    port.receive("00\r");
    EXPECT_EQ(caption("Label12"), " 0 0 CR ");
    EXPECT_EQ(caption("Label22"), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Queries, TypedQuery, ::testing::ValuesIn(Decodings),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(FreeCommandEntry, ALineIsHeldToTheBoundOfTheReceivedText)
{
    constexpr qsizetype Bound = 32767;
    for (const qsizetype typedSize : {Bound, Bound + 1, qsizetype(100000)}) {
        SCOPED_TRACE(typedSize);
        port.writes.clear();
        form->Text1->setText(QString(typedSize, QLatin1Char('C')));
        click("Command95");
        ASSERT_EQ(port.writes.size(), 1);
        EXPECT_EQ(port.writes.first(), QByteArray(Bound, 'C') + '\r');
    }
}

// --- the data toggle -----------------------------------------------------------------------

struct Toggle {
    const char* name;
    float before, after;
    const QString& caption;
};

const Toggle Toggles[] = {
    {"NormalPanel", 5350, 6645, HideData},    {"DataView", 6645, 5350, ShowData},
    {"ServicePanel", 7200, 5350, ShowData},   {"FullServicePanel", 9100, 5350, ShowData},
    {"AtTheThreshold", 6000, 5350, ShowData}, {"JustBelow", 5999.5f, 6645, HideData},
};

void PrintTo(const Toggle& toggle, std::ostream* os)
{
    *os << toggle.name;
}

class DataToggle : public FreeCommandEntry, public ::testing::WithParamInterface<Toggle> {};

TEST_P(DataToggle, SwitchesOnTheHeight)
{
    form->Form_KeyDown(75, 2); // ServiceLevel 1, Command34 shown
    form->setOuterHeight(GetParam().before);
    form->Command34->click();
    EXPECT_EQ(form->outerHeight(), GetParam().after);
    EXPECT_EQ(form->Command34->text(), GetParam().caption);
    EXPECT_EQ(state().ServiceLevel, 0);
    EXPECT_TRUE(timer(3)->isActive());
    EXPECT_TRUE(form->Command34->isVisibleTo(form.get()));
    EXPECT_TRUE(port.writes.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Heights, DataToggle, ::testing::ValuesIn(Toggles),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(FreeCommandEntry, DataToggleLeavesAHiddenToggleHidden)
{
    form->Command34->click();
    EXPECT_EQ(form->outerHeight(), 6645.0f);
    EXPECT_FALSE(form->Command34->isVisibleTo(form.get()));
    form->Command34->click();
    EXPECT_EQ(form->outerHeight(), 5350.0f);
    EXPECT_EQ(form->Command34->text(), ShowData);
}

// --- "END" ---------------------------------------------------------------------------------

TEST_F(FreeCommandEntry, EndClosesThePortAndEndsWithoutSending)
{
    click("Command17");
    port.writes.clear();
    const int closings = port.closings;
    click("Command16");
    EXPECT_FALSE(port.open);
    EXPECT_EQ(port.closings, closings + 1);
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(port.writes.isEmpty());
    // Nothing is handled any more: no tick is due and a late arrival goes unseen.
    for (int n = 1; n <= 5; ++n)
        EXPECT_FALSE(timer(n)->isActive()) << n;
    port.receive("00\r");
    EXPECT_TRUE(state().RxText.isEmpty());
}

TEST_F(FreeCommandEntry, EndWithTheClosedPortStillEnds)
{
    port.open = false;
    const int closings = port.closings;
    click("Command16");
    EXPECT_EQ(port.closings, closings);
    EXPECT_EQ(programEnds, 1);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FreeCommandEntry, EndStillEndsWhenClosingFails)
{
    port.failNext(FakeSerialPort::Op::Close, "COM1 (/dev/ttyS0): Input/output error");
    click("Command16");
    EXPECT_EQ(programEnds, 1);
}

} // namespace
} // namespace qx200::testing
