#include "protocol/StatusDecoding.h"
#include "protocol/TraceRendering.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace qx200 {
namespace {

// Decodes a reply (raw bytes, as received) to a query sent with an empty prefix.
std::optional<StatusResult> decodeReply(const QByteArray& query, const QByteArray& reply)
{
    return decodeStatus(query + '\r', "", renderTrace(reply));
}

std::string identifier(const QByteArray& text)
{
    std::string name;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))
            name += c;
    }
    return name;
}

// --- table rows, fed as replies ------------------------------------------------------------

struct TableRow {
    QByteArray query;
    QByteArray reply; // the leading reply characters; a carriage return follows
    QByteArray text;
};

class TableRows : public testing::TestWithParam<TableRow> {};

TEST_P(TableRows, DecodeToTheirText)
{
    const TableRow& row = GetParam();
    const auto result = decodeReply(row.query, row.reply + '\r');
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, row.text);
    EXPECT_FALSE(result->pressureValue.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    StatusTables, TableRows,
    testing::Values(
        TableRow{"CR0", "00", " Power ON"}, TableRow{"CR0", "80", " Stand by"},
        TableRow{"CR0", "40", " Count down"}, TableRow{"CR0", "20", " Cooling down"},
        TableRow{"CR0", "10", " Power Fail"}, TableRow{"CR0", "08", " Temperature Warning"},
        TableRow{"CR0", "02", " NO Key input "},
        TableRow{"CR0", "04", " Lamp OFF by PWR Management"},
        TableRow{"CR0", "28", " Temperature Warning & cooling down"},
        TableRow{"CR0", "24", "Cooling down  PWR Management"},
        TableRow{"CR0", "88", " Temperature Warning and recoverd"},
        TableRow{"CR0", "21", " Cooling down (All Lamp FAIL)"},
        TableRow{"CR0", "81", " Cooling down & sutandby (All Lamp FAIL)"},
        TableRow{"CR1", "1", " Computer 1"}, TableRow{"CR1", "2", " Computer 2"},
        TableRow{"CR1", "3", " Video"}, TableRow{"CR1", "4", " Input mode 4"},
        TableRow{"CR4", "11", " Normally"}, TableRow{"CR4", "10", " Top/Bottom reversal"},
        TableRow{"CR4", "01", " Left/Right reversal"},
        TableRow{"CR4", "00", " Top/Bottom , Left/Right reversal"},
        TableRow{"CRA", "00", " Video & Audio mute OFF"}, TableRow{"CRA", "01", " Video mute ON"},
        TableRow{"CRA", "02", " Audio mute ON"}, TableRow{"CRA", "03", " Video & Audio mute ON"},
        TableRow{"CRA", "80", " No signal"}, TableRow{"CRA", "FF", " Stand by"},
        TableRow{"CR7", "00", " LAMP OFF"}, TableRow{"CR7", "01", " LAMP ON"},
        TableRow{"CR7", "02", " No2 ON  : 2 Lamp mode"},
        TableRow{"CR7", "03", " No1,2 ON  : 2 Lamp mode"},
        TableRow{"CR7", "10", " All OFF : 1 Lamp mode(No1 USE)"},
        TableRow{"CR7", "11", " No1 ON  : 1 Lamp mode(No1 USE)"},
        TableRow{"CR7", "20", " All OFF : 1 Lamp mode(No2 USE)"},
        TableRow{"CR7", "22", " No2 ON  : 1 Lamp mode(No2 USE)"}),
    [](const testing::TestParamInfo<TableRow>& testCase) {
        return identifier(testCase.param.query) + "_" + identifier(testCase.param.reply);
    });

TEST(StatusDecoding, TableResultNeedsOnlyTheLeadingReplyCharacters)
{
    EXPECT_EQ(decodeReply("CR0", "80")->status, " Stand by");
    EXPECT_EQ(decodeReply("CR0", "80 trailing text")->status, " Stand by");
    EXPECT_EQ(decodeReply("CR1", "3")->status, " Video");
    EXPECT_EQ(decodeReply("CR1", "39")->status, " Video");
}

// --- lines and replies that give nothing ---------------------------------------------------

struct NoResult {
    const char* name;
    QByteArray cmdLine;
    QByteArray prefix;
    QByteArray reply;
};

class NoResults : public testing::TestWithParam<NoResult> {};

TEST_P(NoResults, LeaveTheStatusLineAlone)
{
    const NoResult& c = GetParam();
    EXPECT_FALSE(decodeStatus(c.cmdLine, c.prefix, renderTrace(c.reply)).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    StatusDecoding, NoResults,
    testing::Values(NoResult{"PowerQueryReplyFF", "CR0\r", "", "FF\r"},
                    NoResult{"PartialReply", "CR0\r", "", "8"},
                    NoResult{"EmptyReply", "CR0\r", "", ""},
                    NoResult{"AcknowledgementInFront", "CR0\r", "",
                             "\x06"
                             "00\r"},
                    NoResult{"QuestionMarkInFront", "CR0\r", "", "?00\r"},
                    NoResult{"LowerCaseQueryLine", "cr0\r", "", "00\r"},
                    NoResult{"BlankBeforeQuery", " CR0\r", "", "00\r"},
                    NoResult{"BlankAfterQuery", "CR0 \r", "", "00\r"},
                    NoResult{"NoCarriageReturn", "CR0", "", "00\r"},
                    NoResult{"LineFeedInsteadOfCarriageReturn", "CR0\n", "", "00\r"},
                    NoResult{"LineFeedAfterCarriageReturn", "CR0\r\n", "", "00\r"},
                    NoResult{"ButtonCommandLine", "C01\r", "", "00\r"},
                    NoResult{"EmptyCommandLine", "", "", "00\r"},
                    NoResult{"PrefixMissingFromLine", "CR0\r", "@", "00\r"},
                    NoResult{"OtherPrefixOnLine", "#CR0\r", "@", "00\r"},
                    NoResult{"PrefixOnLineButNotExpected", "@CR0\r", "", "00\r"},
                    NoResult{"UnknownInput", "CR1\r", "", "5\r"},
                    NoResult{"OrientationUnknown", "CR4\r", "", "22\r"},
                    NoResult{"LampModeUnknown", "CR7\r", "", "21\r"},
                    NoResult{"PressureLowerCase", "cr pressure\r", "", "200\r"}),
    [](const testing::TestParamInfo<NoResult>& testCase) { return testCase.param.name; });

TEST(StatusDecoding, SameReplyMeansWhatTheQueryAsked)
{
    EXPECT_EQ(decodeReply("CR0", "00\r")->status, " Power ON");
    EXPECT_EQ(decodeReply("CR4", "00\r")->status, " Top/Bottom , Left/Right reversal");
    EXPECT_EQ(decodeReply("CRA", "00\r")->status, " Video & Audio mute OFF");
    EXPECT_EQ(decodeReply("CR7", "00\r")->status, " LAMP OFF");
}

TEST(StatusDecoding, PrefixIsPartOfTheQueryLine)
{
    const auto result = decodeStatus("@@CR0\r", "@@", renderTrace("00\r"));
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, " Power ON");
}

// --- texts built from the rendered reply ---------------------------------------------------

TEST(StatusDecoding, LampHoursShowTheRenderedReply)
{
    EXPECT_EQ(decodeReply("CR3", "01234\r")->status, " 0 1 2 3 4 CR  Hour Use");
    // Cut after the 38th character of the rendering, the 19th reply character.
    EXPECT_EQ(decodeReply("CR3", "12345678901234567890\r")->status,
              " 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 Hour Use");
}

TEST(StatusDecoding, TemperaturesTakeFixedPositions)
{
    // Reply characters 1-5, 8-11 and 13-17; 6, 7 and 12 are not shown.
    EXPECT_EQ(decodeReply("CR6", "12345xx6789y12345\r")->status,
              "  S1= 1 2 3 4 5 C  ,   S2=  6 7 8 9 C , S3= 1 2 3 4 5 C");
    // Rendering of 13 characters: position 25 exists, so S3 shows what there is.
    EXPECT_EQ(decodeReply("CR6", "12345xx6789y1")->status,
              "  S1= 1 2 3 4 5 C  ,   S2=  6 7 8 9 C , S3= 1  C");
}

TEST(StatusDecoding, TemperaturesKeepTheFixedWordsForShortReplies)
{
    // " 1 2 3 4 5 x x 6" is 17 characters: S3 (from 25) is empty.
    EXPECT_EQ(decodeReply("CR6", "12345xx6")->status, "  S1= 1 2 3 4 5 C  ,   S2=  6  C , S3= C");
    // " 1 2 3" is 7 characters: S2 (from 15) and S3 are empty.
    EXPECT_EQ(decodeReply("CR6", "123")->status, "  S1= 1 2 3  C  ,   S2=  C , S3= C");
    EXPECT_EQ(decodeReply("CR6", "")->status, "  S1=  C  ,   S2=  C , S3= C");
}

TEST(StatusDecoding, RawQueryShowsTheRenderingUnchanged)
{
    EXPECT_EQ(decodeReply("CR9", "\x06"
                                 "ab{\r")
                  ->status,
              " ACK a b ? CR ");
    EXPECT_EQ(decodeReply("CR9", "")->status, " ");
}

// --- pressure ------------------------------------------------------------------------------

struct PressureCase {
    std::int16_t reading;
    std::int16_t hPa;
};

class PressureWorkedValues : public testing::TestWithParam<PressureCase> {};

TEST_P(PressureWorkedValues, ConvertReadingToHectopascal)
{
    const PressureCase& c = GetParam();
    EXPECT_EQ(pressureFromReading(c.reading), c.hPa);

    const auto result = decodeReply("CR PRESSURE", QByteArray::number(c.reading) + '\r');
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, QByteArray::number(c.hPa) + " hPa");
    EXPECT_EQ(result->pressureValue, c.hPa);
}

INSTANTIATE_TEST_SUITE_P(StatusDecoding, PressureWorkedValues,
                         testing::Values(PressureCase{0, 106}, PressureCase{1, 107},
                                         PressureCase{200, 318}, PressureCase{1000, 1169},
                                         PressureCase{1023, 1194}, PressureCase{-100, -1}),
                         [](const testing::TestParamInfo<PressureCase>& testCase) {
                             const int reading = testCase.param.reading;
                             return (reading < 0 ? "Minus" : "Reading") +
                                    std::to_string(std::abs(reading));
                         });

TEST(StatusDecoding, PressureOfATextWithoutNumberIsThatOfZero)
{
    const auto result = decodeStatus("CR PRESSURE\r", "", " ACK ");
    ASSERT_TRUE(result.has_value());
    EXPECT_EQ(result->status, "106 hPa");
    EXPECT_EQ(result->pressureValue, 106);
}

TEST(StatusDecoding, NegativePressureIsShownWithAMinusSign)
{
    EXPECT_EQ(decodeReply("CR PRESSURE", "-100\r")->status, "-1 hPa");
}

TEST(StatusDecoding, PressureReadingIsRoundedBeforeScaling)
{
    // 199.5 rounds to 200 (even), not 199.
    EXPECT_EQ(decodeReply("CR PRESSURE", "199.5\r")->pressureValue, 318);
}

TEST(StatusDecoding, PressureOverflowGivesNothing)
{
    EXPECT_TRUE(pressureFromReading(6553).has_value());
    EXPECT_TRUE(pressureFromReading(-6553).has_value());
    EXPECT_FALSE(pressureFromReading(6554).has_value());
    EXPECT_FALSE(pressureFromReading(-6554).has_value());
    EXPECT_FALSE(pressureFromReading(std::numeric_limits<std::int16_t>::min()).has_value());

    EXPECT_FALSE(decodeReply("CR PRESSURE", "6554\r").has_value());
    EXPECT_FALSE(decodeReply("CR PRESSURE", "40000\r").has_value());
    EXPECT_FALSE(decodeReply("CR PRESSURE", "1e400\r").has_value());
    EXPECT_FALSE(decodeReply("CR PRESSURE", "-1D400\r").has_value());
    EXPECT_TRUE(decodeReply("CR PRESSURE", "1e-400\r").has_value());
}

// --- number reading and rounding -----------------------------------------------------------

struct NumberCase {
    const char* name;
    QByteArray text;
    double value;
};

class ReadNumber : public testing::TestWithParam<NumberCase> {};

TEST_P(ReadNumber, ReadsTheLeadingNumber)
{
    EXPECT_DOUBLE_EQ(readNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    StatusDecoding, ReadNumber,
    testing::Values(
        NumberCase{"Integer", "345", 345}, NumberCase{"RenderedReply", " 3 4 5 CR ", 345},
        NumberCase{"TabsAndLineFeedsSkipped", "\t1\n2 3", 123}, NumberCase{"Negative", "-12", -12},
        NumberCase{"BlankAfterSign", "- 12", -12}, NumberCase{"Positive", "+7", 7},
        NumberCase{"Decimal", "2.25", 2.25}, NumberCase{"DecimalWithoutIntegerPart", ".5", 0.5},
        NumberCase{"TrailingPoint", "5.", 5}, NumberCase{"SecondPointStops", "1.2.3", 1.2},
        NumberCase{"ExponentE", "1.5E2", 150}, NumberCase{"ExponentD", "25D-1", 2.5},
        NumberCase{"LowerCaseExponent", "2e3", 2000}, NumberCase{"LowerCaseD", "2d+2", 200},
        NumberCase{"BlanksInsideExponent", " 1 E - 2 ", 0.01},
        NumberCase{"ExponentWithoutDigitsIgnored", "7E", 7},
        NumberCase{"ExponentSignWithoutDigitsIgnored", "7E-x", 7},
        NumberCase{"StopsAtOtherCharacter", "12C3", 12}, NumberCase{"Empty", "", 0},
        NumberCase{"SignAlone", "-", 0}, NumberCase{"PointAlone", ".", 0},
        NumberCase{"ExponentAlone", "E5", 0}, NumberCase{"DoubleSign", "+-5", 0},
        NumberCase{"LeadingLetter", "x12", 0}, NumberCase{"Acknowledgement", " ACK 1 ", 0},
        NumberCase{"LeadingZeros", "000042", 42}, NumberCase{"TinyUnderflows", "1e-400", 0}),
    [](const testing::TestParamInfo<NumberCase>& testCase) { return testCase.param.name; });

TEST(StatusDecoding, ReadNumberSaturatesHugeValues)
{
    EXPECT_EQ(readNumber("1e400"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(readNumber("-1e99999999999999999999"), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(readNumber("0.0001e-99999999999999999999"), 0.0);
    EXPECT_EQ(readNumber("0.0001e309"), 1e305);
    EXPECT_EQ(readNumber(QByteArray(400, '9')), std::numeric_limits<double>::infinity());
}

TEST(StatusDecoding, ReadNumberStaysInsideTheView)
{
    // The view ends after "12"; the "3" behind it must not be read.
    const char text[] = "123";
    EXPECT_EQ(readNumber(QByteArrayView(text, 2)), 12);
}

struct RoundingCase {
    const char* name;
    double value;
    std::optional<std::int16_t> expected;
};

class ToInt16 : public testing::TestWithParam<RoundingCase> {};

TEST_P(ToInt16, RoundsHalfToEvenWithinRange)
{
    EXPECT_EQ(toInt16(GetParam().value), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    StatusDecoding, ToInt16,
    testing::Values(RoundingCase{"TwoPointFive", 2.5, 2}, RoundingCase{"ThreePointFive", 3.5, 4},
                    RoundingCase{"MinusTwoPointFive", -2.5, -2},
                    RoundingCase{"MinusThreePointFive", -3.5, -4},
                    RoundingCase{"HalfGoesToZero", 0.5, 0}, RoundingCase{"BelowHalf", 1.49, 1},
                    RoundingCase{"AboveHalf", -1.51, -2}, RoundingCase{"Largest", 32767.4, 32767},
                    RoundingCase{"RoundsPastLargest", 32767.5, std::nullopt},
                    RoundingCase{"Smallest", -32768.5, -32768},
                    RoundingCase{"BelowSmallest", -32768.6, std::nullopt},
                    RoundingCase{"Huge", 1e300, std::nullopt},
                    RoundingCase{"Infinity", std::numeric_limits<double>::infinity(), std::nullopt},
                    RoundingCase{"NotANumber", std::nan(""), std::nullopt}),
    [](const testing::TestParamInfo<RoundingCase>& testCase) { return testCase.param.name; });

} // namespace
} // namespace qx200
