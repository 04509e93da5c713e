#include "sim/Replay.h"

#include "record/RecordFormat.h"

#include <gtest/gtest.h>

namespace qx200::sim {
namespace {

using namespace std::chrono;
using record::Event;

// A record's text from (milliseconds after the start, event, bytes) rows.
struct Row {
    int ms;
    Event event;
    std::string bytes;
};
std::string recordText(const std::vector<Row>& rows)
{
    const record::Time start = sys_days(2026y / December / 8) + 9h;
    std::string text(record::HeaderLine);
    for (const Row& row : rows)
        record::appendLine(text, start + milliseconds(row.ms), "COM1", "/dev/ttyUSB0", row.event,
                           row.bytes);
    return text;
}

TEST(Replay, EachLineGetsWhatFollowedItWithItsDelays)
{
    ReplayScript script(recordText({
        {0, Event::Opened, "19200,N,8,1"},
        {5, Event::Received, "noise before any command"},
        {10, Event::Sent, "CR0\r"},
        {13, Event::Received, "00"},
        {15, Event::Status, "STANDBY"},
        {20, Event::Received, "\r"},
        {100, Event::Sent, "C00\r"},
        {104, Event::Received, "\x06"},
        {200, Event::Sent, "CR"}, // a line sent in two pieces is anchored where it ends
        {250, Event::Sent, "0\r"},
        {251, Event::Received, "80\r"},
    }));
    EXPECT_EQ(script.commandCount(), 3u);
    EXPECT_EQ(script.answer("CR0"), (ReplayAnswer{{3ms, "00"}, {10ms, "\r"}}));
    EXPECT_EQ(script.answer("C00"), (ReplayAnswer{{4ms, "\x06"}}));
    EXPECT_EQ(script.answer("CR0"), (ReplayAnswer{{1ms, "80\r"}}));
    EXPECT_EQ(script.answer("CR0"), (ReplayAnswer{{1ms, "80\r"}})) << "the last answer again";
    EXPECT_EQ(script.answer("CR1"), std::nullopt) << "never sent: the normal answer";
}

TEST(Replay, ALineWithoutAnAnswerIsAnsweredWithNothing)
{
    ReplayScript script(recordText({{0, Event::Sent, "C0A\r"}, {500, Event::Sent, "CR0\r"}}));
    EXPECT_EQ(script.answer("C0A"), ReplayAnswer{});
}

TEST(Replay, SpeedDividesTheDelays)
{
    const std::string text = recordText({{0, Event::Sent, "CR0\r"}, {40, Event::Received, "00\r"}});
    EXPECT_EQ(ReplayScript(text, 2).answer("CR0"), (ReplayAnswer{{20ms, "00\r"}}));
    EXPECT_EQ(ReplayScript(text, 0.5).answer("CR0"), (ReplayAnswer{{80ms, "00\r"}}));
}

// A record whose clock jumped by millennia, replayed at the slowest speed: the answer waits an
// hour at most instead of overflowing.
TEST(Replay, DelaysAreBoundedToAnHour)
{
    const record::Time start = sys_days(2026y / December / 8) + 9h;
    std::string text(record::HeaderLine);
    record::appendLine(text, start, "COM1", "/dev/ttyUSB0", Event::Sent, "CR0\r");
    record::appendLine(text, start + hours(24 * 365 * 5000), "COM1", "/dev/ttyUSB0",
                       Event::Received, "00\r");
    EXPECT_EQ(ReplayScript(text, 0.001).answer("CR0"), (ReplayAnswer{{1h, "00\r"}}));
}

TEST(Replay, LinesAreCutAsTheSimulatorCutsItsInput)
{
    ReplayScript script(recordText({
        {0, Event::Sent, "C00\r\nC01\r"}, // two lines in one piece; the line feed is dropped
        {5, Event::Received, "\x06\x06"},
    }));
    EXPECT_EQ(script.commandCount(), 2u);
    EXPECT_EQ(script.answer("C00"), ReplayAnswer{});
    EXPECT_EQ(script.answer("C01"), (ReplayAnswer{{5ms, "\x06\x06"}}));
}

TEST(Replay, DamagedLinesAreSkipped)
{
    std::string text = recordText({{0, Event::Sent, "CR0\r"}, {2, Event::Received, "00\r"}});
    text.insert(text.find("\treceived"), "\tbroken");
    text += "not a record line\n";
    ReplayScript script(text);
    EXPECT_EQ(script.answer("CR0"), ReplayAnswer{});
}

// The console's record and the service's (a projector's name for COM, a sender on each line)
// hold the same exchanges: both replay alike.
TEST(Replay, ReadsTheConsolesRecordsAndTheServices)
{
    const record::Time start = sys_days(2026y / December / 9) + 9h;
    std::string service(record::HeaderLineWithSender);
    const auto add = [&](int ms, Event event, std::string_view bytes, std::string_view sender) {
        record::appendLine(service, start + milliseconds(ms), "hall-1", "rfc2217:server:4001",
                           event, bytes, sender);
    };
    add(0, Event::Sent, "CR0\r", "poller");
    add(30, Event::Received, "00\r", "");
    add(100, Event::Sent, "C00\r", "10.0.0.5 (pjlink)");
    add(104, Event::Received, "\x06", "");
    const std::string console = recordText({{0, Event::Sent, "CR0\r"},
                                            {30, Event::Received, "00\r"},
                                            {100, Event::Sent, "C00\r"},
                                            {104, Event::Received, "\x06"}});
    for (const std::string& text : {console, service}) {
        ReplayScript script(text);
        EXPECT_EQ(script.commandCount(), 2u) << text;
        EXPECT_EQ(script.answer("CR0"), (ReplayAnswer{{30ms, "00\r"}})) << text;
        EXPECT_EQ(script.answer("C00"), (ReplayAnswer{{4ms, "\x06"}})) << text;
    }
}

} // namespace
} // namespace qx200::sim
