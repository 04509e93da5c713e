// The control socket's messages, qx200ctl's command line and what it prints.

#include "service/ControlProtocol.h"
#include "service/ControlServer.h"
#include "service/ctl/CtlOptions.h"
#include "service/ctl/CtlOutput.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

struct RequestCase {
    const char* name;
    QByteArray line;
    QString error; // empty: accepted
    QList<QByteArray> commandLines;
};

class RequestLines : public testing::TestWithParam<RequestCase> {};

TEST_P(RequestLines, Decode)
{
    const RequestCase& c = GetParam();
    const DecodedRequest decoded = decodeRequest(c.line);
    EXPECT_EQ(decoded.error, c.error);
    ASSERT_EQ(decoded.request.has_value(), c.error.isEmpty());
    if (!decoded.request)
        return;
    EXPECT_EQ(commandLines(*decoded.request), c.commandLines);
    const QByteArray encoded = encodeRequest(*decoded.request);
    EXPECT_TRUE(encoded.endsWith('\n') && encoded.count('\n') == 1);
    EXPECT_EQ(decodeRequest(encoded.chopped(1)).request, decoded.request);
}

INSTANTIATE_TEST_SUITE_P(
    ControlProtocol, RequestLines,
    testing::Values(
        RequestCase{"List", R"({"command":"list"})", {}, {}},
        RequestCase{"Status", R"({"command":"status","projectors":["hall-1"]})", {}, {}},
        RequestCase{"PowerOnTwo",
                    R"({"command":"power","on":true,"projectors":["hall-1","hall-2"]})",
                    {},
                    {"C00"}},
        RequestCase{
            "PowerOff", R"({"command":"power","on":false,"projectors":["a"]})", {}, {"C01"}},
        RequestCase{
            "InputHdmi", R"({"command":"input","input":"hdmi","projectors":["a"]})", {}, {"C04"}},
        RequestCase{"MuteVideo",
                    R"({"command":"mute","mute":"video","on":true,"projectors":["a"]})",
                    {},
                    {"C0D"}},
        RequestCase{"MuteAllOff",
                    R"({"command":"mute","mute":"all","on":false,"projectors":["a"]})",
                    {},
                    {"C0E", "C0C"}},
        RequestCase{"Send", R"({"command":"send","line":"CR0","projectors":["a"]})", {}, {"CR0"}},
        RequestCase{"Array", "[1]", "a request is a JSON object", {}},
        RequestCase{"NoCommand", "{}", "no \"command\"", {}},
        RequestCase{"UnknownCommand",
                    R"({"command":"reboot"})",
                    "unknown command \"reboot\" (one of list, status, power, input, mute, send)",
                    {}},
        RequestCase{"ListWithNames",
                    R"({"command":"list","projectors":["a"]})",
                    "list takes no projectors",
                    {}},
        RequestCase{"StatusTwo",
                    R"({"command":"status","projectors":["a","b"]})",
                    "status takes one projector",
                    {}},
        RequestCase{
            "PowerNobody", R"({"command":"power","on":true})", "power needs a projector", {}},
        RequestCase{"PowerOnText",
                    R"({"command":"power","on":"yes","projectors":["a"]})",
                    "power needs \"on\": true or false",
                    {}},
        RequestCase{"NamesNotAList",
                    R"({"command":"power","on":true,"projectors":"a"})",
                    "\"projectors\" must be a list of names",
                    {}},
        RequestCase{"NameTwice",
                    R"({"command":"power","on":true,"projectors":["a","a"]})",
                    "a is named twice",
                    {}},
        RequestCase{"BadInput",
                    R"({"command":"input","input":"dvi","projectors":["a"]})",
                    "\"input\" is one of pc1, pc2, video, hdmi",
                    {}},
        RequestCase{"SendTwoLines",
                    R"({"command":"send","line":"C00\rC01","projectors":["a"]})",
                    "the line to send is one line, without CR or LF",
                    {}},
        RequestCase{"SendEmpty",
                    R"({"command":"send","line":"","projectors":["a"]})",
                    "send needs a \"line\"",
                    {}},
        RequestCase{"SendTooLong",
                    R"({"command":"send","projectors":["a"],"line":")" + QByteArray(257, 'C') +
                        R"("})",
                    "the line to send is longer than 256 bytes",
                    {}}),
    [](const testing::TestParamInfo<RequestCase>& c) { return c.param.name; });

TEST(ControlProtocol, GarbageIsNoRequestAndNoAnswer)
{
    EXPECT_TRUE(decodeRequest("hello").error.startsWith("not JSON: "));
    EXPECT_TRUE(decodeRequest("").error.startsWith("not JSON: "));
    for (const QByteArray line : {"hello", "[]", R"({"ok":"yes"})", R"({"ok":false})"})
        EXPECT_FALSE(decodeAnswer(line).answer) << line.constData();
    EXPECT_TRUE(decodeAnswer(R"({"ok":false,"error":"x"})").answer);
}

TEST(ControlProtocol, RepliesAreEscaped)
{
    EXPECT_EQ(escapedReply("00\r"), "00\\r");
    EXPECT_EQ(escapedReply("\x06"), "\\x06");
    EXPECT_EQ(escapedReply("a\\b\n\xff"), "a\\\\b\\n\\xff");
}

TEST(ControlProtocol, ReplyFailuresNameTheProjector)
{
    const auto failure = [](Reply::Outcome outcome, QByteArray bytes, bool change,
                            QString reason = {}) {
        return replyFailure("hall-1", Reply{outcome, bytes, {}, reason},
                            std::chrono::milliseconds(1000), change)
            .value_or("(none)");
    };
    using O = Reply::Outcome;
    EXPECT_EQ(failure(O::Answered, "\x06", true), "(none)");
    EXPECT_EQ(failure(O::Answered, "00\r", false), "(none)");
    EXPECT_EQ(failure(O::Answered, "?\r", true),
              "hall-1: the projector answered \"?\\r\", not its acknowledgement");
    EXPECT_EQ(failure(O::Silent, {}, true), "hall-1: no reply within 1 s");
    EXPECT_EQ(failure(O::Refused, {}, true, "the projector is cooling down"),
              "hall-1: refused: the projector is cooling down");
    EXPECT_EQ(failure(O::Refused, {}, true, "hall-1: too many requests waiting"),
              "hall-1: refused: too many requests waiting");
    EXPECT_EQ(failure(O::Lost, {}, false, "hall-1 (/dev/ttyUSB0): gone"),
              "hall-1 (/dev/ttyUSB0): gone");
}

struct CtlCase {
    const char* name;
    QStringList args;
    int exit;             // -1: the service is asked
    QByteArray requestOr; // the request line, or the error
};

class CtlCommandLines : public testing::TestWithParam<CtlCase> {};

TEST_P(CtlCommandLines, Parse)
{
    const CtlCase& c = GetParam();
    const ParsedCtlOptions parsed = parseCtlOptions(c.args);
    EXPECT_EQ(exitWithoutService(parsed).value_or(-1), c.exit);
    if (!parsed.options) {
        EXPECT_EQ(parsed.error.toUtf8(), c.requestOr);
    } else if (parsed.options->mode == CtlOptions::Mode::Run) {
        EXPECT_EQ(encodeRequest(parsed.options->request), c.requestOr + '\n');
    }
}

INSTANTIATE_TEST_SUITE_P(
    ControlProtocol, CtlCommandLines,
    testing::Values(
        CtlCase{"List", {"list"}, -1, R"({"command":"list"})"},
        CtlCase{"PowerOnTwo",
                {"--socket", "/tmp/s", "power", "on", "hall-1", "hall-2"},
                -1,
                R"({"command":"power","on":true,"projectors":["hall-1","hall-2"]})"},
        CtlCase{"Mute",
                {"mute", "audio", "off", "a"},
                -1,
                R"({"command":"mute","mute":"audio","on":false,"projectors":["a"]})"},
        CtlCase{"SendDashLine",
                {"--json", "send", "a", "-x"},
                -1,
                R"({"command":"send","line":"-x","projectors":["a"]})"},
        CtlCase{"Help", {"--help"}, 0, {}}, CtlCase{"Version", {"--version"}, 0, {}},
        CtlCase{"NoCommand", {}, 2, "no command"},
        CtlCase{"Unknown", {"reboot", "a"}, 2, "unknown command \"reboot\""},
        CtlCase{"UnknownOption", {"--bogus", "list"}, 2, "Unknown option 'bogus'."},
        CtlCase{
            "PowerMaybe", {"power", "maybe", "a"}, 2, "expected: qx200ctl power on|off NAME..."},
        CtlCase{"PowerNobody", {"power", "on"}, 2, "expected: qx200ctl power on|off NAME..."},
        CtlCase{"StatusTwo", {"status", "a", "b"}, 2, "expected: qx200ctl status NAME"},
        CtlCase{"InputDvi",
                {"input", "dvi", "a"},
                2,
                "expected: qx200ctl input pc1|pc2|video|hdmi NAME"},
        CtlCase{"NameTwice", {"power", "off", "a", "a"}, 2, "a is named twice"},
        CtlCase{"SendCr",
                {"send", "a", "C00\rC01"},
                2,
                "the line to send is one line, without CR or LF"}),
    [](const testing::TestParamInfo<CtlCase>& c) { return c.param.name; });

QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(text).object();
}

TEST(ControlProtocol, ClientPrintsAnswersForPeople)
{
    ControlRequest list;
    const CtlOutput table = formatAnswer(list, json(R"j({"ok":true,"projectors":[
            {"name":"hall-1","device":"/dev/ttyUSB0","up":true,"power":"on","operator":""},
            {"name":"gallery","device":"tcp:h:1","up":false,"operator":"10.0.0.5:4000 (console)"}]})j"),
                                         false);
    EXPECT_EQ(table.out, "NAME     STATE  POWER    LINE\n"
                         "hall-1   up     on       free\n"
                         "gallery  down   unknown  held by 10.0.0.5:4000 (console)\n");
    EXPECT_EQ(table.exitCode, 0);

    ControlRequest status;
    status.command = ControlCommand::Status;
    const CtlOutput lines = formatAnswer(
        status, json(R"({"ok":true,"projector":{"name":"hall-1","device":"d","up":true,"power":"on",
            "operator":"","age_seconds":12,"readings":{"power":"on","lamp_hours":1234,
            "faults":{"lamp":false,"power":true},"temperatures_celsius":[30.5,31,32]}}})"),
        false);
    EXPECT_EQ(lines.out, "name: hall-1\ndevice: d\nstate: up\npower: on\nline: free\nage: 12s\n"
                         "faults: power\nlamp_hours: 1234\ntemperatures_celsius: 30.5, 31, 32\n");

    ControlRequest power;
    power.command = ControlCommand::Power;
    const CtlOutput partly =
        formatAnswer(power, json(R"({"ok":false,"error":"b: no reply within 1 s","results":[
            {"projector":"a","ok":true},{"projector":"b","ok":false,"error":"b: no reply within 1 s"}]})"),
                     false);
    EXPECT_EQ(partly.out, "a: done\n");
    EXPECT_EQ(partly.err, "qx200ctl: b: no reply within 1 s\n");
    EXPECT_EQ(partly.exitCode, 1);

    const CtlOutput refused =
        formatAnswer(power, json(R"({"ok":false,"error":"x: no such projector"})"), true);
    EXPECT_EQ(QJsonDocument::fromJson(refused.out.toUtf8()).object()["error"],
              "x: no such projector");
    EXPECT_EQ(refused.err, "qx200ctl: x: no such projector\n");
    EXPECT_EQ(refused.exitCode, 1);
}

} // namespace
} // namespace qx200
