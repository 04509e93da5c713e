#include "protocol/TraceRendering.h"
#include "support/FormFixture.h"

#include <QLabel>
#include <ostream>

namespace qx200::testing {
namespace {

class CommandLink : public FormFixture {
protected:
    void setCaption(const char* label, const char* text) { widget<QLabel>(label)->setText(text); }
};

TEST_F(CommandLink, OnAClosedPortTheLineIsTracedAndAwaitedButNotWritten)
{
    port.open = false;
    click("Command17");
    EXPECT_TRUE(port.writes.isEmpty());
    EXPECT_EQ(caption("Label11"), " C 0 0 CR ");
    EXPECT_TRUE(timer(2)->isActive());
    EXPECT_TRUE(timer(4)->isActive());
    EXPECT_EQ(state().RxPending, 1);
    form->Timer2_Timer();
    EXPECT_EQ(caption("Label12"), " X X X X");
}

TEST_F(CommandLink, AFailingWriteEndsTheSend)
{
    setCaption("Label11", "before");
    port.failNext(FakeSerialPort::Op::Output, "COM1 (/dev/ttyS0): Input/output error");
    click("Command18");
    EXPECT_EQ(caption("Label11"), "before");
    EXPECT_FALSE(timer(2)->isActive());
    EXPECT_FALSE(timer(4)->isActive());
    EXPECT_EQ(state().RxPending, 0);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(CommandLink, SendingLeavesTheReceiveSideAlone)
{
    setCaption("Label12", "rx");
    setCaption("Label22", "status");
    click("Command44");
    EXPECT_EQ(caption("Label12"), "rx");
    EXPECT_EQ(caption("Label22"), "status");
}

TEST_F(CommandLink, ShowingAReplyLeavesTheSendSideAlone)
{
    state().CmdLine = "CR0\r";
    state().RxPending = 1;
    setCaption("Label11", "tx");
    form->Hyouji("00\r", 2);
    EXPECT_EQ(caption("Label12"), " 0 0 CR ");
    EXPECT_EQ(caption("Label22"), " Power ON");
    EXPECT_EQ(caption("Label11"), "tx");
    EXPECT_EQ(state().RxPending, 1);
    for (int n = 1; n <= 5; ++n)
        EXPECT_FALSE(timer(n)->isActive()) << "Timer" << n;
    EXPECT_EQ(timer(2)->interval(), 500);
    EXPECT_EQ(timer(4)->interval(), 1000);
    EXPECT_TRUE(port.writes.isEmpty());
}

TEST_F(CommandLink, AReplyInPiecesGrowsAndDecodesOnceComplete)
{
    click("Command44");
    port.receive("0");
    EXPECT_EQ(caption("Label12"), " 0 ");
    EXPECT_EQ(caption("Label22"), "");
    EXPECT_EQ(state().RxPending, 0);
    port.receive("0\r");
    EXPECT_EQ(caption("Label12"), " 0 0 CR ");
    EXPECT_EQ(caption("Label22"), " Power ON");
    EXPECT_EQ(state().RxText, "00\r");
}

TEST_F(CommandLink, AnEmptyArrivalRendersAgainAndEndsTheWait)
{
    click("Command44");
    port.receive("8");
    click("Command44"); // the send does not empty the collection
    setCaption("Label12", "stale");
    port.receive("");
    EXPECT_EQ(caption("Label12"), " 8 ");
    EXPECT_EQ(state().RxText, "8");
    EXPECT_EQ(state().RxPending, 0);
}

TEST_F(CommandLink, AQuerySentRightAfterAnotherDecodesItsOwnReply)
{
    click("Command46"); // L-TIME
    port.receive("01234\r");
    click("Command54"); // TEMP, within the first one's reply window
    port.receive("025.0  26.0 027.0\r");
    EXPECT_EQ(caption("Label12"), QString::fromLatin1(renderTrace("01234\r025.0  26.0 027.0\r")));
    EXPECT_EQ(caption("Label22"), "  S1= 0 2 5 . 0 C  ,   S2=  2 6 . 0 C , S3= 0 2 7 . 0 C");
}

TEST_F(CommandLink, OtherEventsChangeNothing)
{
    click("Command44");
    port.pending = "00\r";
    for (std::int16_t event : {0, 1, 3, 1001}) {
        port.raise(event);
        EXPECT_TRUE(state().RxText.isEmpty()) << event;
        EXPECT_EQ(state().RxPending, 1) << event;
        EXPECT_EQ(caption("Label12"), "") << event;
        EXPECT_EQ(caption("Label22"), "") << event;
        EXPECT_EQ(port.pending, "00\r") << event; // left waiting for the receive event
    }
}

TEST_F(CommandLink, AReplyAfterTheWindowClosedShowsAloneAndDecodesAgainstTheLastLine)
{
    click("Command47");
    port.receive("8");
    form->Timer2_Timer();
    EXPECT_TRUE(state().RxText.isEmpty());
    port.receive("11\r");
    EXPECT_EQ(caption("Label12"), " 1 1 CR ");
    EXPECT_EQ(caption("Label22"), " Normally");
}

TEST_F(CommandLink, AReplyToASupersededQueryIsOnlyTraced)
{
    setCaption("Label22", "earlier");
    click("Command44");
    click("Command18");
    port.receive("00\r");
    EXPECT_EQ(caption("Label12"), " 0 0 CR ");
    EXPECT_EQ(caption("Label22"), "earlier");
}

// The same reply means different things after different queries; a button decodes through the
// line it composed.
struct Decoding {
    const char* name;
    const char* control;
    const char* reply;
    const char* status; // nullptr: the status line is left as it was
};
void PrintTo(const Decoding& value, std::ostream* os)
{
    *os << value.name;
}

const Decoding Decodings[] = {
    {"StatusPowerOn", "Command44", "00\r", " Power ON"},
    {"StatusFfUnknown", "Command44", "FF\r", nullptr},
    {"ModeVideo", "Command45", "3\r", " Video"},
    {"LampTime", "Command46", "01234\r", " 0 1 2 3 4 CR  Hour Use"},
    {"SettingBothReversed", "Command47", "00\r", " Top/Bottom , Left/Right reversal"},
    {"LampModeOff", "Command55", "00\r", " LAMP OFF"},
    {"PowerOnIsNoQuery", "Command17", "00\r", nullptr},
};

class WindowDecoding : public CommandLink, public ::testing::WithParamInterface<Decoding> {};

TEST_P(WindowDecoding, WritesTheStatusLine)
{
    const Decoding& d = GetParam();
    setCaption("Label22", "earlier");
    click(d.control);
    port.receive(d.reply);
    EXPECT_EQ(caption("Label22"), d.status ? d.status : "earlier");
}

INSTANTIATE_TEST_SUITE_P(Buttons, WindowDecoding, ::testing::ValuesIn(Decodings),
                         [](const auto& p) { return std::string(p.param.name); });

// Only the first 32767 received bytes are kept and shown, however they arrive.
struct Flood {
    const char* name;
    QByteArrayList pieces;
};
void PrintTo(const Flood& value, std::ostream* os)
{
    *os << value.name;
}

const Flood Floods[] = {
    {"InOnePiece", {QByteArray(40000, '1')}},
    {"OverTheEdge", {QByteArray(32766, '1'), "23"}},
    {"AfterTheEdge", {QByteArray(32767, '1'), "4"}},
};

class LongReply : public CommandLink, public ::testing::WithParamInterface<Flood> {};

TEST_P(LongReply, KeepsTheFirst32767Bytes)
{
    click("Command46");
    QByteArray all;
    for (const QByteArray& piece : GetParam().pieces) {
        port.receive(piece);
        all += piece;
    }
    const QByteArray kept = all.first(32767);
    EXPECT_EQ(state().RxText, kept);
    const QString shown = caption("Label12");
    EXPECT_EQ(shown.size(), 1 + 2 * 32767);
    EXPECT_TRUE(shown.endsWith(QChar::fromLatin1(kept.back()) + QStringLiteral(" ")));
    form->Timer2_Timer();
    port.receive("5\r");
    EXPECT_EQ(caption("Label12"), " 5 CR ");
}

INSTANTIATE_TEST_SUITE_P(Arrivals, LongReply, ::testing::ValuesIn(Floods),
                         [](const auto& p) { return std::string(p.param.name); });

} // namespace
} // namespace qx200::testing
