// The console on its real serial service against the projector simulator (or a test-held peer)
// over a pseudo-terminal, driven through its widgets.

#include "e2e/EndToEnd.h"

#include <QFrame>
#include <QRadioButton>
#include <QRegularExpression>
#include <cerrno>
#include <string>
#include <termios.h>
#include <tuple>
#include <unistd.h>

namespace qx200::testing {
namespace {

// --- status buttons against a projector in standby -------------------------------------------

struct StatusRow {
    const char* name;
    const char* button;
    const char* expected; // the status line; a pattern where `pattern` is set
    bool pattern;
};

// The simulator starts in standby on input 1 with 1234 lamp hours, the picture upright, the
// lamp off and the sensors near their resting values.
const StatusRow StatusRows[] = {
    {"Status", "Command44", " Stand by", false},
    {"Mode", "Command45", " Computer 1", false},
    {"LampTime", "Command46", " 0 1 2 3 4 CR  Hour Use", false},
    {"Setting", "Command47", " Normally", false},
    {"Temperature", "Command54",
     R"(^  S1= (\d) (\d) (\d) \. (\d) C  ,   S2=  (\d) (\d) \. (\d) C , S3= (\d) (\d) (\d) \. (\d) C$)",
     true},
    {"LampMode", "Command55", " LAMP OFF", false},
};

void PrintTo(const StatusRow& row, std::ostream* os)
{
    *os << row.name;
}

// Each row with the reply in one piece and with the reply one byte every 20 ms.
class EndToEndStatusButton : public EndToEnd,
                             public ::testing::WithParamInterface<std::tuple<StatusRow, bool>> {};

TEST_P(EndToEndStatusButton, DecodesTheSimulatorsReply)
{
    const auto& [row, split] = GetParam();
    ASSERT_NO_FATAL_FAILURE(
        startOnSimulator(split ? QStringList{"--split-ms", "20"} : QStringList{}));

    const std::size_t from = history.size();
    const std::string status = ask(row.button);
    if (!row.pattern) {
        EXPECT_EQ(status, row.expected);
    } else {
        const auto match = QRegularExpression(QString::fromLatin1(row.expected))
                               .match(QString::fromStdString(status));
        ASSERT_TRUE(match.hasMatch()) << status;
        // S1 ddd.d, S2 dd.d, S3 ddd.d: a projector at rest sits near room temperature.
        const int groups[][2] = {{1, 4}, {5, 7}, {8, 11}};
        for (const auto& [first, last] : groups) {
            QString digits;
            for (int g = first; g <= last; ++g)
                digits += match.captured(g);
            const double celsius = digits.toDouble() / 10.0;
            EXPECT_GE(celsius, 15.0) << status;
            EXPECT_LE(celsius, 40.0) << status;
        }
    }
    EXPECT_TRUE(messages.isEmpty());

    if (split) {
        // The reply really came in pieces: decoded again at every arrival, ending on the same
        // text as a reply in one piece.
        const auto arrivals = since(from, Snapshot::Receive);
        if (!arrivals.empty() && arrivals.back().rxd.size() >= std::string(" 8 0 CR ").size()) {
            EXPECT_GE(arrivals.size(), 2u) << describe(from);
        }
    }
}

std::string statusTestName(const ::testing::TestParamInfo<std::tuple<StatusRow, bool>>& info)
{
    const bool split = std::get<1>(info.param);
    return std::string(std::get<0>(info.param).name) + (split ? "_SplitReply" : "_WholeReply");
}

INSTANTIATE_TEST_SUITE_P(EndToEnd, EndToEndStatusButton,
                         ::testing::Combine(::testing::ValuesIn(StatusRows), ::testing::Bool()),
                         statusTestName);

// --- over time ---------------------------------------------------------------------------------

class EndToEndConsole : public EndToEnd {
protected:
    // Asks "STATUS" until the answer leaves `passing`, within the patience; returns the answer.
    std::string statusAfter(const std::string& passing)
    {
        const QDeadlineTimer deadline(Patience);
        std::string status;
        do {
            status = ask("Command44");
        } while (status == passing && !deadline.hasExpired());
        return status;
    }
};

// The sequence standby, count down, on, cooling down, standby. Until the reply window of the
// POWER click has ended its acknowledgement stands in front of any reply, so the first readable
// STATUS comes about a second after the click: the phases last 3 s so that it still meets them.
TEST_F(EndToEndConsole, PowerGoesThroughCountDownAndCoolingDown)
{
    ASSERT_NO_FATAL_FAILURE(startOnSimulator({"--warmup-ms", "3000", "--cooldown-ms", "3000"}));
    EXPECT_EQ(ask("Command44"), " Stand by");

    ASSERT_NO_FATAL_FAILURE(command("Command17")); // POWER ON
    EXPECT_EQ(ask("Command44"), " Count down");
    EXPECT_EQ(statusAfter(" Count down"), " Power ON");

    ASSERT_NO_FATAL_FAILURE(command("Command18")); // POWER OFF
    EXPECT_EQ(ask("Command44"), " Cooling down");
    EXPECT_EQ(statusAfter(" Cooling down"), " Stand by");
    EXPECT_TRUE(messages.isEmpty());
}

// No answer at all: the reply window ends with " X X X X", the trace clearing then empties the
// lines, and nothing is ever decoded.
TEST_F(EndToEndConsole, SilentProjectorShowsCrossesAfterTheReplyWindow)
{
    ASSERT_NO_FATAL_FAILURE(startOnSimulator({"--silent"}));
    click("Command44");
    EXPECT_EQ(form->Label11->text().toStdString(), " C R 0 CR ");

    ASSERT_TRUE(waitUntil([&] { return !since(0, Snapshot::TraceClear).empty(); }));
    const auto windowEnds = since(0, Snapshot::ReplyWindowEnd);
    ASSERT_EQ(windowEnds.size(), 1u) << describe();
    EXPECT_EQ(windowEnds[0].rxd, " X X X X");
    EXPECT_EQ(windowEnds[0].status, "");
    EXPECT_EQ(since(0, Snapshot::TraceClear)[0].rxd, "");
    EXPECT_TRUE(since(0, Snapshot::Receive).empty()) << describe();
    EXPECT_EQ(form->Label11->text().toStdString(), "");
}

// A reply whose bytes come 1 s apart: the 500 ms reply window ends after its first byte, which
// stays shown (no crosses, something came). The rest arrives after the window and is shown on
// its own, and still decoded against the lamp-hours query, as the last line sent.
TEST_F(EndToEndConsole, LateReplyIsShownAloneAndDecodedAgainstTheLastLine)
{
    ASSERT_NO_FATAL_FAILURE(startOnSimulator({"--split-ms", "1000"}));
    ASSERT_EQ(form->Timer2->interval(), 500);
    click("Command46"); // L-TIME; the reply is "01234" and CR

    std::optional<Snapshot> last;
    ASSERT_TRUE(waitUntil([&] { return (last = lastReceiveSince(0, "CR ")).has_value(); }))
        << describe();
    EXPECT_EQ(last->rxd, " 1 2 3 4 CR ") << describe();
    EXPECT_EQ(last->status, " 1 2 3 4 CR  Hour Use") << describe();

    const auto arrivals = since(0, Snapshot::Receive);
    EXPECT_EQ(arrivals.front().rxd, " 0 ");
    EXPECT_EQ(arrivals.front().status, " 0  Hour Use");
    const auto windowEnds = since(0, Snapshot::ReplyWindowEnd);
    ASSERT_EQ(windowEnds.size(), 1u) << describe();
    EXPECT_EQ(windowEnds[0].rxd, " 0 ") << describe();

    // Nothing closes this collection any more: the lines keep the late reply.
    QTest::qWait(300);
    EXPECT_EQ(form->Label12->text().toStdString(), " 1 2 3 4 CR ");
    EXPECT_EQ(form->Label22->text().toStdString(), " 1 2 3 4 CR  Hour Use");
}

// "CR PRESSURE" has no button: typed, it reads the sensor and shows hPa near sea level.
TEST_F(EndToEndConsole, TypedPressureQueryShowsHectopascals)
{
    ASSERT_NO_FATAL_FAILURE(startOnSimulator({}));
    const std::string status = askTyped(QStringLiteral("CR PRESSURE"));
    const auto match = QRegularExpression(QStringLiteral("^(\\d{3,4}) hPa$"))
                           .match(QString::fromStdString(status));
    ASSERT_TRUE(match.hasMatch()) << status;
    EXPECT_GE(match.captured(1).toInt(), 990);
    EXPECT_LE(match.captured(1).toInt(), 1040);
    EXPECT_EQ(form->state().PressureValue, match.captured(1).toInt());
}

// The mute query reads "FF" (" Stand by") until the projector is on; a sound mute set in standby
// is kept and reported once it is on.
TEST_F(EndToEndConsole, TypedMuteQueryReportsTheSoundMuteOnceOn)
{
    ASSERT_NO_FATAL_FAILURE(startOnSimulator({"--warmup-ms", "300"}));
    EXPECT_EQ(askTyped(QStringLiteral("CRA")), " Stand by");

    ASSERT_NO_FATAL_FAILURE(command("Command19")); // SOUND MUTE ON
    ASSERT_NO_FATAL_FAILURE(command("Command17")); // POWER ON
    const QDeadlineTimer deadline(Patience);
    std::string power;
    do {
        power = ask("Command44");
    } while (power != " Power ON" && !deadline.hasExpired());
    ASSERT_EQ(power, " Power ON");

    EXPECT_EQ(askTyped(QStringLiteral("CRA")), " Audio mute ON");
    // A query in lower case is sent as typed, but its reply is not decoded.
    EXPECT_EQ(askTyped(QStringLiteral("cra")), "");
}

// --- against a test-held peer ---------------------------------------------------------------

// Everything the peer has been sent and can read now, without running the event loop.
QByteArray takeWaiting(const PseudoTerminal& far)
{
    QByteArray got;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(far.master(), buffer, sizeof buffer);
        if (n <= 0)
            return got;
        got.append(buffer, n);
    }
}

// Whole "C09" CR lines and nothing else: how many, or -1.
int volumeLines(const QByteArray& bytes)
{
    const QByteArray line = "C09\r";
    if (bytes.size() % line.size() != 0 || bytes.count(line) * line.size() != bytes.size())
        return -1;
    return int(bytes.count(line));
}

// About 1 s of "VOL" "+" (repeat 250 ms) sends about 1000 / 250 + 1 lines; after the release at
// most the line already on its way still comes.
TEST_F(EndToEndConsole, HeldVolumeRepeatsUntilReleased)
{
    ASSERT_NO_FATAL_FAILURE(startOnPeer());
    QPushButton* plus = button("Command1");
    QTest::mousePress(plus, Qt::LeftButton);
    QTest::qWait(1000);
    QTest::mouseRelease(plus, Qt::LeftButton);
    const QByteArray held = takeWaiting(*peer);
    const QByteArray after = peer->read(1 << 16, 600);

    const int sent = volumeLines(held + after);
    EXPECT_GE(sent, 3) << (held + after).toStdString();
    EXPECT_LE(sent, 7) << (held + after).toStdString();
    EXPECT_LE(after.size(), 4) << after.toStdString();
    EXPECT_EQ(form->state().RepeatSel, 0);
    EXPECT_FALSE(form->Timer1->isActive());
}

// "9600" changes the line speed of the open port in place: bytes waiting at the switch are still
// delivered (a reopening would discard them), and a query round trip works at the new speed.
TEST_F(EndToEndConsole, SwitchingTo9600ChangesTheSpeedOfTheOpenPort)
{
    ASSERT_NO_FATAL_FAILURE(startOnPeer());
    const termios opened = peer->slaveAttributes();
    EXPECT_EQ(cfgetospeed(&opened), speed_t(B19200));

    click("Command44"); // STATUS at 19200
    ASSERT_EQ(peer->read(4, Patience), QByteArray("CR0\r"));
    peer->write("20\r");
    // The reply waits in the port while the speed changes under it.
    click("Command33"); // COM
    ASSERT_TRUE(form->Frame8->isVisible());
    QTest::mouseClick(form->Option10, Qt::LeftButton);
    EXPECT_TRUE(form->Option10->isChecked());
    EXPECT_FALSE(form->Frame8->isVisible());
    EXPECT_TRUE(port->PortOpen());
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();

    const termios attributes = peer->slaveAttributes();
    EXPECT_EQ(cfgetospeed(&attributes), speed_t(B9600));
    EXPECT_EQ(cfgetispeed(&attributes), speed_t(B9600));
    std::optional<Snapshot> early;
    ASSERT_TRUE(waitUntil([&] { return (early = lastReceiveSince(0, "CR ")).has_value(); }))
        << describe();
    EXPECT_EQ(early->status, " Cooling down") << describe();

    const std::string status = ask([&] {
        click("Command44");
        EXPECT_EQ(peer->read(4, Patience), QByteArray("CR0\r"));
        peer->write("80\r");
    });
    EXPECT_EQ(status, " Stand by");
}

} // namespace
} // namespace qx200::testing
