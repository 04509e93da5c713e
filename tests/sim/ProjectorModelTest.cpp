#include "sim/ProjectorModel.h"
#include "console/panel/ButtonTables.h"
#include "protocol/StatusDecoding.h"
#include "protocol/TraceRendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string>
#include <vector>

namespace qx200::sim {
namespace {

using namespace std::chrono_literals;

const std::string AckReply(1, Ack);

// The console's conversion of a pressure reading into hPa.
double hectopascal(int reading)
{
    return ((reading * 5 / 1024.0) - 0.204) / 0.00459 + 150;
}

// The status line the console shows for a reply to a query.
std::string decoded(std::string_view code, const std::string& reply)
{
    const QByteArray line = QByteArray(code.data(), qsizetype(code.size())) + '\r';
    const auto result =
        decodeStatus(line, QByteArrayView(), renderTrace(QByteArray::fromStdString(reply)));
    return result ? result->status.toStdString() : std::string("<not decoded>");
}

struct QueryCase {
    const char* name;
    bool on;
    const char* code;
    const char* reply;
    const char* status; // what the console makes of the reply
};

class QueryReplyTest : public ::testing::TestWithParam<QueryCase> {};

// Before any drift: every query's reply in full, and the console's reading of it.
TEST_P(QueryReplyTest, RepliesWhatTheConsoleDecodes)
{
    ProjectorModel model(ModelConfig{0ms, 0ms});
    if (GetParam().on)
        model.answer("C00", 0ms);
    const std::string reply = model.answer(GetParam().code, 0ms);
    EXPECT_EQ(reply, GetParam().reply);
    EXPECT_EQ(decoded(GetParam().code, reply), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, QueryReplyTest,
    ::testing::Values(QueryCase{"PowerStandby", false, "CR0", "80\r", " Stand by"},
                      QueryCase{"PowerOn", true, "CR0", "00\r", " Power ON"},
                      QueryCase{"Input", false, "CR1", "1\r", " Computer 1"},
                      QueryCase{"LampHours", false, "CR3", "01234\r", " 0 1 2 3 4 CR  Hour Use"},
                      QueryCase{"Orientation", false, "CR4", "11\r", " Normally"},
                      QueryCase{"Temperatures", false, "CR6", "025.0  26.0 027.0\r",
                                "  S1= 0 2 5 . 0 C  ,   S2=  2 6 . 0 C , S3= 0 2 7 . 0 C"},
                      QueryCase{"LampModeOff", false, "CR7", "00\r", " LAMP OFF"},
                      QueryCase{"LampModeOn", true, "CR7", "01\r", " LAMP ON"},
                      QueryCase{"MuteStandby", false, "CRA", "FF\r", " Stand by"},
                      QueryCase{"MuteOff", true, "CRA", "00\r", " Video & Audio mute OFF"},
                      QueryCase{"Version", false, "CR9", "QX200 SIM Ver1.0\r",
                                " Q X 2 0 0   S I M   V e r 1 . 0 CR "},
                      QueryCase{"Pressure", false, "CR PRESSURE", "853\r", "1013 hPa"}),
    [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST(ProjectorModelTest, EveryButtonCodeOfTheConsoleIsUnderstood)
{
    ProjectorModel model;
    int sent = 0;
    auto check = [&](std::string_view control, std::string_view code) {
        ++sent;
        const std::string reply = model.answer(code, 0ms);
        if (code.starts_with("CR"))
            EXPECT_NE(decoded(code, reply), "<not decoded>") << control << " " << code;
        else
            EXPECT_EQ(reply, AckReply) << control << " " << code;
    };
    for (const auto& button : buttons::oneShots()) {
        if (!button.code.empty())
            check(button.control, button.code);
    }
    for (const auto& button : buttons::holds())
        check(button.control, button.code);
    EXPECT_EQ(sent, 45 + 13);
}

struct Step {
    Millis at;
    const char* line;
    const char* reply;
};

// Runs the lines in order and checks each reply, naming the step that differs.
void runTimeline(ProjectorModel& model, const std::vector<Step>& steps)
{
    for (const Step& step : steps) {
        EXPECT_EQ(model.answer(step.line, step.at), step.reply)
            << step.line << " at " << step.at.count() << " ms";
    }
}

TEST(ProjectorModelTest, PowerGoesThroughCountDownAndCoolingDown)
{
    ProjectorModel model(ModelConfig{1000ms, 2000ms});
    runTimeline(model,
                {
                    {0ms, "C00", "\x06"},     {0ms, "CR0", "40\r"},
                    {0ms, "CR7", "01\r"},     {0ms, "CRA", "FF\r"},
                    {999ms, "CR0", "40\r"},   {1000ms, "CR0", "00\r"},
                    {1000ms, "CRA", "00\r"},  {5000ms, "C00", "\x06"}, // already on
                    {5000ms, "CR0", "00\r"},  {5000ms, "C01", "\x06"},
                    {5000ms, "CR0", "20\r"},  {5000ms, "CR7", "00\r"},
                    {5000ms, "CRA", "FF\r"},  {6000ms, "C00", "\x06"}, // ignored while cooling down
                    {6999ms, "CR0", "20\r"},  {7000ms, "CR0", "80\r"},
                    {9000ms, "C01", "\x06"}, // already in standby
                    {9000ms, "CR0", "80\r"},  {9000ms, "C00", "\x06"},
                    {9500ms, "C01", "\x06"}, // off during count down
                    {9500ms, "CR0", "20\r"},  {11499ms, "CR0", "20\r"},
                    {11500ms, "CR0", "80\r"},
                });
}

TEST(ProjectorModelTest, TimeGoingBackwardsChangesNothing)
{
    ProjectorModel model(ModelConfig{1000ms, 1000ms});
    model.answer("C00", 0ms);
    model.advance(1500ms);
    EXPECT_EQ(model.answer("CR0", 200ms), "00\r");
    EXPECT_EQ(model.power(), Power::On);
}

TEST(ProjectorModelTest, InputFollowsInputAndSourceCommands)
{
    const std::vector<std::pair<const char*, const char*>> cases{
        {"C06", "2\r"},
        {"C07", "3\r"},
        {"C04", "4\r"},
        {"C05", "1\r"},
        {"CF INPUT COMPUTER2 ANALOG", "2\r"},
        {"CF INPUT VIDEO VIDEO", "3\r"},
        {"CF INPUT HDMI HDMI", "4\r"},
        {"C51", "1\r"},
        {"CF INPUT S-VIDEO S-VIDEO", "3\r"},
        {"C54", "1\r"},
        {"C1E", "1\r"}, // not an input command: input unchanged
    };
    ProjectorModel model;
    for (const auto& [command, reply] : cases) {
        EXPECT_EQ(model.answer(command, 0ms), AckReply) << command;
        EXPECT_EQ(model.answer("CR1", 0ms), reply) << "after " << command;
    }
}

TEST(ProjectorModelTest, MuteStateCombinesVideoAndAudio)
{
    ProjectorModel model(ModelConfig{0ms, 0ms});
    model.answer("C00", 0ms);
    runTimeline(model, {
                           {0ms, "CRA", "00\r"},
                           {0ms, "C0B", "\x06"}, // sound mute on
                           {0ms, "CRA", "02\r"},
                           {0ms, "C0D", "\x06"}, // no show on
                           {0ms, "CRA", "03\r"},
                           {0ms, "C0C", "\x06"}, // sound mute off
                           {0ms, "CRA", "01\r"},
                           {0ms, "C0E", "\x06"}, // no show off
                           {0ms, "CRA", "00\r"},
                           {0ms, "C0D", "\x06"},
                           {0ms, "C01", "\x06"}, // standby hides the mutes ...
                           {0ms, "CRA", "FF\r"},
                           {0ms, "C00", "\x06"}, // ... and they are back when on again
                           {0ms, "CRA", "01\r"},
                       });
}

TEST(ProjectorModelTest, UnknownLinesGetQuestionMark)
{
    ProjectorModel model;
    for (const char* line : {"", "cr0", "CR0 ", " CR0", "CR2", "CRB", "C0G", "C00\n", "C000",
                             "CF FANMODE L3", "CF  FANMODE L1", "CR  PRESSURE", "C", "\x06"}) {
        EXPECT_EQ(model.answer(line, 0ms), "?\r") << '"' << line << '"';
    }
    EXPECT_EQ(model.answer(std::string(300, 'C'), 0ms), "?\r");
    EXPECT_EQ(model.power(), Power::Standby);
}

TEST(ProjectorModelTest, LampHoursCountOnlyWhileTheLampIsLit)
{
    ProjectorModel model(ModelConfig{30min, 0ms});
    model.answer("C00", 0ms);
    EXPECT_EQ(model.answer("CR3", 59min + 59s), "01234\r");
    EXPECT_EQ(model.answer("CR3", 1h), "01235\r"); // count down counts too
    EXPECT_EQ(model.answer("CR3", 3h), "01237\r");
    model.answer("C01", 3h);
    EXPECT_EQ(model.answer("CR3", 30h), "01237\r");
}

// Reply characters 1-5, 8-11 and 13-17 are what the console shows; 6, 7 and 12 are filler.
struct Temperatures {
    double s1, s2, s3;
};

Temperatures parseTemperatureReply(const std::string& reply)
{
    EXPECT_EQ(reply.size(), 18u) << reply;
    if (reply.size() != 18)
        return {};
    EXPECT_EQ(reply.substr(5, 2), "  ");
    EXPECT_EQ(reply[11], ' ');
    EXPECT_EQ(reply[17], '\r');
    return {std::stod(reply.substr(0, 5)), std::stod(reply.substr(7, 4)),
            std::stod(reply.substr(12, 5))};
}

TEST(ProjectorModelTest, TemperaturesRiseWithTheLampAndFallAfterIt)
{
    ProjectorModel model(ModelConfig{0ms, 1min});
    const auto cold = restingTemperatures(false);
    const auto hot = restingTemperatures(true);
    model.answer("C00", 0ms);

    const Temperatures early = parseTemperatureReply(model.answer("CR6", 10s));
    EXPECT_GT(early.s3, cold[2]);
    EXPECT_LT(early.s3, hot[2] - 5);

    const Temperatures settled = parseTemperatureReply(model.answer("CR6", 1h));
    EXPECT_NEAR(settled.s1, hot[0], 1.5);
    EXPECT_NEAR(settled.s2, hot[1], 1.5);
    EXPECT_NEAR(settled.s3, hot[2], 1.5);

    model.answer("C01", 1h);
    const Temperatures cooled = parseTemperatureReply(model.answer("CR6", 3h));
    EXPECT_NEAR(cooled.s1, cold[0], 1.5);
    EXPECT_NEAR(cooled.s2, cold[1], 1.5);
    EXPECT_NEAR(cooled.s3, cold[2], 1.5);
}

TEST(ProjectorModelTest, PressureWandersNearStandardAtmosphere)
{
    ProjectorModel model(ModelConfig{0ms, 0ms, 7});
    std::set<int> readings;
    for (Millis t = 0ms; t < 2h; t += 7s) {
        const std::string reply = model.answer("CR PRESSURE", t);
        ASSERT_EQ(reply.back(), '\r');
        const int reading = std::stoi(reply);
        readings.insert(reading);
        const long hPa = std::lround(hectopascal(reading));
        EXPECT_GE(hPa, 1003) << "reading " << reading;
        EXPECT_LE(hPa, 1023) << "reading " << reading;
    }
    EXPECT_GE(readings.size(), 3u) << "the reading should wander";
}

TEST(ProjectorModelTest, SameSeedGivesSameDrift)
{
    auto sample = [](std::uint32_t seed) {
        ProjectorModel model(ModelConfig{0ms, 0ms, seed});
        model.answer("C00", 0ms);
        std::string replies;
        for (Millis t = 0ms; t < 2min; t += 3s)
            replies += model.answer("CR6", t) + model.answer("CR PRESSURE", t);
        return replies;
    };
    EXPECT_EQ(sample(42), sample(42));
    EXPECT_NE(sample(42), sample(43));
}

TEST(ProjectorModelTest, DriftIsTheSameHoweverOftenTimeIsPassedIn)
{
    ProjectorModel often(ModelConfig{0ms, 0ms, 9});
    ProjectorModel once(ModelConfig{0ms, 0ms, 9});
    for (Millis t = 0ms; t <= 90s; t += 250ms)
        often.advance(t);
    once.advance(90s);
    EXPECT_EQ(often.answer("CR6", 90s), once.answer("CR6", 90s));
    EXPECT_EQ(often.answer("CR PRESSURE", 90s), once.answer("CR PRESSURE", 90s));
}

} // namespace
} // namespace qx200::sim
