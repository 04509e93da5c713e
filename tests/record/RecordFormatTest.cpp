#include "record/RecordFormat.h"

#include <gtest/gtest.h>

namespace qx200::record {
namespace {

using namespace std::chrono;
using namespace std::string_literals;

// How each byte value is written: printable ASCII but the backslash as itself, the rest escaped.
struct ByteRange {
    int first;
    int last;
    bool plain;
};
constexpr ByteRange Ranges[] = {{0x00, 0x1F, false},
                                {0x20, 0x5B, true},
                                {0x5C, 0x5C, false},
                                {0x5D, 0x7E, true},
                                {0x7F, 0xFF, false}};

TEST(RecordFormat, EveryByteValueEscapesByItsRangeAndReadsBack)
{
    int next = 0;
    for (const ByteRange& range : Ranges) {
        ASSERT_EQ(range.first, next);
        for (int code = range.first; code <= range.last; ++code) {
            const std::string byte(1, char(code));
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", code);
            const std::string expected = range.plain ? byte : code == '\\' ? "\\\\"s : "\\x"s + hex;
            EXPECT_EQ(escapeBytes(byte), expected) << "code " << code;
            EXPECT_EQ(unescapeBytes(expected), byte) << "code " << code;
            EXPECT_EQ(hexBytes(byte), hex);
            EXPECT_EQ(unhexBytes(hex), byte);
        }
        next = range.last + 1;
    }
    EXPECT_EQ(next, 256);
}

TEST(RecordFormat, BrokenEscapesAndHexAreRefused)
{
    for (const std::string_view text : {"\\", "\\x", "\\x4", "\\xG0", "\\q", "a\tb", "\x80"})
        EXPECT_EQ(unescapeBytes(text), std::nullopt) << text;
    EXPECT_EQ(unescapeBytes("\\x4a"), "J"); // lower case, as a hand-written record may have it
    for (const std::string_view hex : {"4", "430", "43  30", "43-30", "4G", " 43"})
        EXPECT_EQ(unhexBytes(hex), std::nullopt) << hex;
}

struct TimeExample {
    const char* text;
    Time time;
};
const TimeExample TimeExamples[] = {
    {"2026-12-08T09:14:03.123456Z", sys_days(2026y / December / 8) + 9h + 14min + 3s + 123456us},
    {"1970-01-01T00:00:00.000000Z", Time{}},
    {"2028-02-29T23:59:59.999999Z", sys_days(2028y / February / 29) + 23h + 59min + 59s + 999999us},
};

TEST(RecordFormat, TimesAreIsoUtcWithMicroseconds)
{
    for (const TimeExample& example : TimeExamples) {
        EXPECT_EQ(formatTime(example.time), example.text);
        EXPECT_EQ(parseTime(example.text), example.time) << example.text;
    }
    for (const std::string_view bad :
         {"2026-12-08T09:14:03.12345Z", "2026-12-08 09:14:03.123456Z",
          "2026-13-08T09:14:03.123456Z", "2027-02-29T09:14:03.123456Z",
          "2026-12-08T24:00:00.000000Z", "2026-12-08T09:14:03.123456",
          "2026-12-08T09:60:03.123456Z", "2026-12-08T09:14:03.1234+6Z"})
        EXPECT_EQ(parseTime(bad), std::nullopt) << bad;
}

const Time At = sys_days(2026y / December / 8) + 9h + 14min + 3s + 123456us;

struct LineExample {
    Line line;
    const char* text;
};
const LineExample LineExamples[] = {
    {{At, "COM1", "/dev/ttyUSB0", Event::Sent, "C00\r"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tsent\tC00\\x0D\t43 30 30 0D\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Received, "\x06"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\treceived\t\\x06\t06\n"},
    {{At, "COM2", "tcp:host:4001", Event::Status, "STANDBY"},
     "2026-12-08T09:14:03.123456Z\tCOM2\ttcp:host:4001\tstatus\tSTANDBY\t\n"},
    {{At, "COM1", "/dev/a\tb", Event::Opened, "19200,N,8,1"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/a\\x09b\topened\t19200,N,8,1\t\n"},
    {{At, "COM2", "/dev/ttyS1", Event::OpenFailed, "Permission denied"},
     "2026-12-08T09:14:03.123456Z\tCOM2\t/dev/ttyS1\topen-failed\tPermission denied\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Lost, "gone"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tlost\tgone\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Back, ""},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tback\t\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Speed, "9600,N,8,1"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tspeed\t9600,N,8,1\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Closed, ""},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tclosed\t\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Unrecorded, "2 events, 4096 bytes"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tunrecorded\t2 events, 4096 bytes\t\n"},
    {{At, "COM1", "/dev/ttyUSB0", Event::Unsent, "C01\r"},
     "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/ttyUSB0\tunsent\tC01\\x0D\t43 30 31 0D\n"},
};

TEST(RecordFormat, EveryEventWritesOneLineAndReadsBack)
{
    ASSERT_EQ(std::size(LineExamples), std::size(AllEvents));
    for (const LineExample& example : LineExamples) {
        const std::string text = formatLine(example.line);
        EXPECT_EQ(text, example.text);
        EXPECT_EQ(parseLine(std::string_view(text).substr(0, text.size() - 1)), example.line)
            << text;
    }
}

// The service's records: a seventh field names the sender, empty where nobody sent.
const LineExample SenderExamples[] = {
    {{At, "hall-1", "/dev/ttyUSB0", Event::Sent, "C00\r", "10.0.0.5 (pjlink)"},
     "2026-12-08T09:14:03.123456Z\thall-1\t/dev/ttyUSB0\tsent\tC00\\x0D\t43 30 30 0D\t"
     "10.0.0.5 (pjlink)\n"},
    {{At, "hall-1", "/dev/ttyUSB0", Event::Received, "\x06", ""},
     "2026-12-08T09:14:03.123456Z\thall-1\t/dev/ttyUSB0\treceived\t\\x06\t06\t\n"},
    {{At, "hall-1", "/dev/ttyUSB0", Event::Sent, "CR0\r", "a\tb\\c (qx200ctl)"},
     "2026-12-08T09:14:03.123456Z\thall-1\t/dev/ttyUSB0\tsent\tCR0\\x0D\t43 52 30 0D\t"
     "a\\x09b\\\\c (qx200ctl)\n"},
};

TEST(RecordFormat, ALineWithItsSenderWritesSevenFieldsAndReadsBack)
{
    for (const LineExample& example : SenderExamples) {
        const std::string text = formatLine(example.line);
        EXPECT_EQ(text, example.text);
        EXPECT_EQ(parseLine(std::string_view(text).substr(0, text.size() - 1)), example.line)
            << text;
    }
}

TEST(RecordFormat, TheHeaderAndDamagedLinesAreNotRead)
{
    const std::string good = "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/x\tsent\tC\\x0D\t43 0D";
    ASSERT_TRUE(parseLine(good));
    for (const std::string& bad : std::vector<std::string>{
             std::string(HeaderLine.substr(0, HeaderLine.size() - 1)),
             std::string(HeaderLineWithSender.substr(0, HeaderLineWithSender.size() - 1)),
             good.substr(0, good.size() - 6),                                  // a field short
             good + "\tpoller\textra",                                         // a field too many
             good + "\tbad\\q",                                                // a broken sender
             "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/x\tsent\tC\\x0D\t43 0E", // hex differs
             "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/x\tsend\tC\\x0D\t43 0D", // no such event
             "2026-12-08T09:14:03.123456Z\tCOM1\t/dev/x\tclosed\t\t43",        // hex on an event
             "2026-12-08T09:14:03.123456Z\t\t/dev/x\tsent\tC\\x0D\t43 0D",     // no COM
         })
        EXPECT_EQ(parseLine(bad), std::nullopt) << bad;
}

} // namespace
} // namespace qx200::record
