#include "sim/SerialWire.h"

#include <gtest/gtest.h>

#include <set>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Lines end at CR, may come in pieces, drop line feeds, and keep a bounded start when overlong.
TEST(LineSplitterTest, CutsReceivedBytesIntoLines)
{
    LineSplitter splitter;
    EXPECT_EQ(splitter.feed("C0"), Lines{});
    EXPECT_EQ(splitter.feed("0\rCR"), Lines{"C00"});
    EXPECT_EQ(splitter.feed("0\r\rCR PRESSURE\r\nC\n01\r"),
              (Lines{"CR0", "", "CR PRESSURE", "C01"}));
    splitter.feed(std::string(LineSplitter::MaxLine, 'A'));
    EXPECT_EQ(splitter.feed(std::string(5000, 'B') + "\rCR0\r"),
              (Lines{std::string(LineSplitter::MaxLine, 'A'), "CR0"}));
}

TEST(ReplyPacerTest, SplitSendsOneByteAtATime)
{
    ReplyPacer pacer = ReplyPacer::forLine(50ms, 0);
    pacer.push("80\r", 100ms);
    EXPECT_EQ(pacer.due(100ms), "8");
    EXPECT_EQ(pacer.due(149ms), "8");
    EXPECT_EQ(pacer.due(150ms), "80");
    pacer.consume(2);
    EXPECT_EQ(pacer.nextDue(), Nanos(200ms));
    // A reply queued meanwhile waits behind the first.
    pacer.push("\x06", 160ms);
    EXPECT_EQ(pacer.due(249ms), "\r");
    EXPECT_EQ(pacer.due(250ms), "\r\x06");
    pacer.consume(2);
    EXPECT_EQ(pacer.nextDue(), std::nullopt);
    // An idle line sends the next reply's first byte at once.
    pacer.push("?", 1s);
    EXPECT_EQ(pacer.due(1s), "?");
}

TEST(ReplyPacerTest, BaudRateTakesTenBitsPerByte)
{
    ReplyPacer pacer = ReplyPacer::forLine(0ms, 9600);
    const Nanos byte = Nanos(1'041'666); // 10 bits at 9600 baud
    pacer.push("123", 0ms);
    EXPECT_EQ(pacer.due(byte - 1ns), "");
    EXPECT_EQ(pacer.due(byte), "1");
    EXPECT_EQ(pacer.due(3 * byte), "123");
}

TEST(NoiseTest, GarbageCoversAllByteValuesAndRepeatsPerSeed)
{
    Noise noise(11);
    Noise twin(11);
    std::set<unsigned char> seen;
    std::set<std::size_t> lengths;
    for (int i = 0; i < 2000; ++i) {
        const std::string reply = noise.garbageReply();
        EXPECT_EQ(reply, twin.garbageReply());
        ASSERT_GE(reply.size(), 1u);
        ASSERT_LE(reply.size(), Noise::MaxGarbage);
        lengths.insert(reply.size());
        seen.insert(reply.begin(), reply.end());
    }
    EXPECT_EQ(seen.size(), 256u);
    EXPECT_EQ(lengths.size(), Noise::MaxGarbage);
}

TEST(FloodMeterTest, OwesBytesAtTheRateWithoutOverflow)
{
    FloodMeter flood(1000);
    EXPECT_EQ(flood.owed(500ms), 500u);
    flood.sent(500);
    EXPECT_EQ(flood.owed(500ms), 0u);
    EXPECT_EQ(flood.nextDue(), Nanos(501ms));
    EXPECT_EQ(FloodMeter(3).nextDue(), Nanos(333'333'334));
    EXPECT_EQ(FloodMeter(10'000'000).owed(std::chrono::hours(240)), 10'000'000ull * 240 * 3600);
}

} // namespace
} // namespace qx200::sim
