#include "sim/SimOptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;

ParsedOptions parse(std::vector<std::string_view> args)
{
    return parseOptions(args);
}

TEST(SimOptionsTest, TakesEveryOptionInBothSpellings)
{
    const auto parsed =
        parse({"--link", "/tmp/x", "--silent", "--garbage", "--split-ms=25", "--flood", "500",
               "--baud=9600", "--seed", "4294967295", "--warmup-ms", "0", "--cooldown-ms=1500"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const SimOptions& o = *parsed.options;
    EXPECT_EQ(o.link, "/tmp/x");
    EXPECT_TRUE(o.silent);
    EXPECT_TRUE(o.garbage);
    EXPECT_EQ(o.split, 25ms);
    EXPECT_EQ(o.flood, 500u);
    EXPECT_EQ(o.baud, 9600);
    EXPECT_EQ(o.seed, 4294967295u);
    EXPECT_EQ(o.warmup, 0ms);
    EXPECT_EQ(o.cooldown, 1500ms);
    EXPECT_TRUE(o.replay.empty());
}

TEST(SimOptionsTest, TakesARecordToReplayAndItsSpeed)
{
    const auto parsed = parse({"--replay", "/tmp/session.tsv", "--replay-speed=0.5"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->replay, "/tmp/session.tsv");
    EXPECT_EQ(parsed.options->replaySpeed, 0.5);
    EXPECT_EQ(parse({"--replay", "/tmp/s.tsv"}).options->replaySpeed, 1.0);
}

TEST(SimOptionsTest, TakesATcpPortWithOrWithoutHost)
{
    const std::pair<std::string_view, TcpAddress> cases[] = {
        {"4001", {"127.0.0.1", 4001}},       {"0", {"127.0.0.1", 0}},
        {"0.0.0.0:4001", {"0.0.0.0", 4001}}, {"localhost:65535", {"localhost", 65535}},
        {"[::1]:4001", {"::1", 4001}},
    };
    for (const auto& [text, address] : cases) {
        const auto parsed = parse({"--tcp", text});
        ASSERT_TRUE(parsed.options) << text << ": " << parsed.error;
        EXPECT_EQ(parsed.options->tcp, address) << text;
    }
    EXPECT_FALSE(parse({}).options->tcp);
}

struct BadCase {
    const char* name;
    std::vector<std::string_view> args;
};

class BadOptionsTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(BadOptionsTest, IsRejectedWithAReason)
{
    const auto parsed = parseOptions(GetParam().args);
    EXPECT_FALSE(parsed.options);
    EXPECT_FALSE(parsed.error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Rejected, BadOptionsTest,
    ::testing::Values(
        BadCase{"UnknownOption", {"--fast"}}, BadCase{"PositionalArgument", {"/tmp/x"}},
        BadCase{"MissingValue", {"--link"}}, BadCase{"EmptyLink", {"--link="}},
        BadCase{"OtherBaud", {"--baud", "115200"}}, BadCase{"NegativeSplit", {"--split-ms", "-5"}},
        BadCase{"TrailingGarbage", {"--split-ms", "5ms"}}, BadCase{"ZeroFlood", {"--flood", "0"}},
        BadCase{"HugeFlood", {"--flood", "99999999999"}},
        BadCase{"SeedTooBig", {"--seed", "4294967296"}}, BadCase{"SwitchWithValue", {"--silent=1"}},
        BadCase{"WarmupOverADay", {"--warmup-ms", "86400001"}},
        BadCase{"TcpPortTooBig", {"--tcp", "65536"}}, BadCase{"TcpNoPort", {"--tcp", "host:"}},
        BadCase{"TcpNoHost", {"--tcp", ":4001"}}, BadCase{"TcpBareIpv6", {"--tcp", "::1:4001"}},
        BadCase{"TcpAndLink", {"--link", "/tmp/x", "--tcp", "4001"}},
        BadCase{"EmptyReplay", {"--replay="}},
        BadCase{"ZeroReplaySpeed", {"--replay", "r", "--replay-speed", "0"}},
        BadCase{"NegativeReplaySpeed", {"--replay", "r", "--replay-speed", "-2"}},
        BadCase{"WordReplaySpeed", {"--replay", "r", "--replay-speed", "fast"}},
        BadCase{"HugeReplaySpeed", {"--replay", "r", "--replay-speed", "1e9"}},
        BadCase{"TinyReplaySpeed", {"--replay", "r", "--replay-speed", "1e-300"}},
        BadCase{"ReplaySpeedAlone", {"--replay-speed", "2"}}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

} // namespace
} // namespace qx200::sim
