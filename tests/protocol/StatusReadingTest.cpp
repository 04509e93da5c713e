#include "protocol/StatusReading.h"
#include "protocol/TraceRendering.h"

#include <gtest/gtest.h>

#include <string>

namespace qx200 {
namespace {

std::string identifier(QByteArrayView text)
{
    std::string name;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            name += c;
    }
    return name;
}

QByteArray queryLine(StatusQuery query)
{
    return queryCode(query).toByteArray() + '\r';
}

// --- every row gives the console's text and its value --------------------------------------

struct ValueRow {
    StatusQuery query;
    QByteArray reply; // without its carriage return
    ReadingValue value;
};

class ReadingRows : public testing::TestWithParam<ValueRow> {};

TEST_P(ReadingRows, GiveTheConsoleTextAndTheirValue)
{
    const ValueRow& row = GetParam();
    const QByteArray rendered = renderTrace(row.reply + '\r');
    const auto reading = readStatus(row.query, rendered);
    const auto console = decodeStatus(queryLine(row.query), "", rendered);
    ASSERT_TRUE(reading.has_value());
    ASSERT_TRUE(console.has_value());
    EXPECT_EQ(reading->status, console->status);
    EXPECT_EQ(reading->value, row.value);
}

constexpr auto Power = StatusQuery::Power;
constexpr auto Mute = StatusQuery::Mute;
constexpr auto Lamps = StatusQuery::LampMode;
constexpr auto Orient = StatusQuery::Orientation;
constexpr auto On = PowerState::On;
constexpr auto Standby = PowerState::Standby;
constexpr auto Cooling = PowerState::CoolingDown;
constexpr auto Present = PictureSignal::Present;

INSTANTIATE_TEST_SUITE_P(
    StatusReading, ReadingRows,
    testing::Values(
        ValueRow{Power, "00", PowerReading{On, {}}},
        ValueRow{Power, "80", PowerReading{Standby, {}}},
        ValueRow{Power, "40", PowerReading{PowerState::WarmUp, {}}},
        ValueRow{Power, "20", PowerReading{Cooling, {}}},
        ValueRow{Power, "10", PowerReading{std::nullopt, {.powerFail = true}}},
        ValueRow{Power, "08", PowerReading{On, {.temperatureWarning = true}}},
        ValueRow{Power, "02", PowerReading{On, {.noKeyInput = true}}},
        ValueRow{Power, "04", PowerReading{On, {.powerManagement = true}}},
        ValueRow{Power, "28", PowerReading{Cooling, {.temperatureWarning = true}}},
        ValueRow{Power, "24", PowerReading{Cooling, {.powerManagement = true}}},
        ValueRow{Power, "88", PowerReading{Standby, {.temperatureWarning = true}}},
        ValueRow{Power, "21", PowerReading{Cooling, {.lampFailure = true}}},
        ValueRow{Power, "81", PowerReading{Standby, {.lampFailure = true}}},
        ValueRow{StatusQuery::Input, "1", InputSource::Computer1},
        ValueRow{StatusQuery::Input, "2", InputSource::Computer2},
        ValueRow{StatusQuery::Input, "3", InputSource::Video},
        ValueRow{StatusQuery::Input, "4", InputSource::Input4},
        ValueRow{Orient, "11", Orientation{false, false}},
        ValueRow{Orient, "10", Orientation{true, false}},
        ValueRow{Orient, "01", Orientation{false, true}},
        ValueRow{Orient, "00", Orientation{true, true}},
        ValueRow{Mute, "00", MuteReading{Present, false, false}},
        ValueRow{Mute, "01", MuteReading{Present, true, false}},
        ValueRow{Mute, "02", MuteReading{Present, false, true}},
        ValueRow{Mute, "03", MuteReading{Present, true, true}},
        ValueRow{Mute, "80", MuteReading{PictureSignal::NoSignal, false, false}},
        ValueRow{Mute, "FF", MuteReading{PictureSignal::Standby, false, false}},
        ValueRow{Lamps, "00", LampReading{LampMode::TwoLamps, false, false}},
        ValueRow{Lamps, "01", LampReading{LampMode::TwoLamps, true, false}},
        ValueRow{Lamps, "02", LampReading{LampMode::TwoLamps, false, true}},
        ValueRow{Lamps, "03", LampReading{LampMode::TwoLamps, true, true}},
        ValueRow{Lamps, "10", LampReading{LampMode::Lamp1Only, false, false}},
        ValueRow{Lamps, "11", LampReading{LampMode::Lamp1Only, true, false}},
        ValueRow{Lamps, "20", LampReading{LampMode::Lamp2Only, false, false}},
        ValueRow{Lamps, "22", LampReading{LampMode::Lamp2Only, false, true}},
        ValueRow{StatusQuery::LampHours, "01234", LampHours{1234}},
        ValueRow{StatusQuery::LampHours, "0", LampHours{0}},
        ValueRow{StatusQuery::LampHours, "999999999", LampHours{999999999}},
        ValueRow{StatusQuery::Temperatures, "025.0  38.0 061.5", Temperatures{{25.0, 38.0, 61.5}}},
        ValueRow{StatusQuery::Temperatures, "-02.5xx+3.0y00100", Temperatures{{-2.5, 3.0, 100.0}}},
        ValueRow{StatusQuery::Pressure, "853", Pressure{1013}},
        ValueRow{StatusQuery::Pressure, "0", Pressure{106}},
        ValueRow{StatusQuery::Pressure, "-100", Pressure{-1}},
        ValueRow{StatusQuery::Pressure, "199.5", Pressure{318}}),
    [](const testing::TestParamInfo<ValueRow>& testCase) {
        return identifier(queryCode(testCase.param.query)) + "_" + std::to_string(testCase.index) +
               "_" + identifier(testCase.param.reply);
    });

// --- replies that give no value ------------------------------------------------------------

struct Unreadable {
    const char* name;
    StatusQuery query;
    QByteArray reply; // as received, carriage return included where there is one
};

class UnreadableReplies : public testing::TestWithParam<Unreadable> {};

TEST_P(UnreadableReplies, GiveNoReading)
{
    const Unreadable& c = GetParam();
    EXPECT_FALSE(readStatus(c.query, renderTrace(c.reply)).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    StatusReading, UnreadableReplies,
    testing::Values(
        Unreadable{"PowerUnknownRow", Power, "FF\r"}, Unreadable{"PowerQuestionMark", Power, "?\r"},
        Unreadable{"PowerPartial", Power, "8"},
        Unreadable{"InputUnknown", StatusQuery::Input, "5\r"},
        Unreadable{"OrientationUnknown", Orient, "22\r"}, Unreadable{"MuteUnknown", Mute, "04\r"},
        Unreadable{"LampModeUnknown", Lamps, "21\r"},
        Unreadable{"RawHasNoValue", StatusQuery::Raw, "QX200\r"},
        Unreadable{"LampHoursWithoutEnd", StatusQuery::LampHours, "01234"},
        Unreadable{"LampHoursEmpty", StatusQuery::LampHours, "\r"},
        Unreadable{"LampHoursLetter", StatusQuery::LampHours, "012x4\r"},
        Unreadable{"LampHoursSign", StatusQuery::LampHours, "-1234\r"},
        Unreadable{"LampHoursTooLong", StatusQuery::LampHours, "1234567890\r"},
        Unreadable{"LampHoursAcknowledged", StatusQuery::LampHours,
                   "\x06"
                   "01234\r"},
        Unreadable{"LampHoursTrailingText", StatusQuery::LampHours, "01234\rxx"},
        Unreadable{"LampHoursControlByte", StatusQuery::LampHours,
                   "01\x01"
                   "34\r"},
        Unreadable{"TemperaturesShort", StatusQuery::Temperatures, "025.0  38.0 061\r"},
        Unreadable{"TemperaturesWithoutEnd", StatusQuery::Temperatures, "025.0  38.0 061.0"},
        Unreadable{"TemperaturesLetter", StatusQuery::Temperatures, "025.0  3x.0 061.0\r"},
        Unreadable{"TemperaturesBlankInField", StatusQuery::Temperatures, " 25.0  38.0 061.0\r"},
        Unreadable{"TemperaturesPointAlone", StatusQuery::Temperatures, "025.0  38.. 061.0\r"},
        Unreadable{"TemperaturesControlByte", StatusQuery::Temperatures, "025.0  38\r0 061.0\r"},
        Unreadable{"PressureAcknowledgement", StatusQuery::Pressure, "\x06"},
        Unreadable{"PressureEmpty", StatusQuery::Pressure, "\r"},
        Unreadable{"PressureExponent", StatusQuery::Pressure, "1E2\r"},
        Unreadable{"PressureTrailingLetter", StatusQuery::Pressure, "853x\r"},
        Unreadable{"PressureOverflow", StatusQuery::Pressure, "6554\r"},
        Unreadable{"PressureQuestionMark", StatusQuery::Pressure, "?\r"}),
    [](const testing::TestParamInfo<Unreadable>& testCase) { return testCase.param.name; });

TEST(StatusReading, QueryLinesNameTheirQuery)
{
    for (const StatusQuery query :
         {StatusQuery::Power, StatusQuery::Input, StatusQuery::Orientation, StatusQuery::LampHours,
          StatusQuery::Temperatures, StatusQuery::Mute, StatusQuery::Raw, StatusQuery::Pressure,
          StatusQuery::LampMode}) {
        EXPECT_EQ(statusQueryOf(queryLine(query), ""), query)
            << queryCode(query).toByteArray().toStdString();
        EXPECT_EQ(statusQueryOf("@" + queryLine(query), "@"), query);
    }
    EXPECT_FALSE(statusQueryOf("CR0", "").has_value());
}

} // namespace
} // namespace qx200
