#include "service/FleetConfig.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using std::chrono::milliseconds;

struct DurationCase {
    const char* name;
    const char* text;
    std::optional<milliseconds> expected;
};

class Durations : public testing::TestWithParam<DurationCase> {};

TEST_P(Durations, ReadLikePrometheus)
{
    EXPECT_EQ(parseDuration(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    FleetConfig, Durations,
    testing::Values(
        DurationCase{"Milliseconds", "500ms", milliseconds(500)},
        DurationCase{"Seconds", "10s", milliseconds(10000)},
        DurationCase{"Minute", "1m", milliseconds(60000)},
        DurationCase{"HoursAndMinutes", "1h30m", milliseconds(5400000)},
        DurationCase{"MinutesSecondsMilliseconds", "1m2s3ms", milliseconds(62003)},
        DurationCase{"Days", "2d", milliseconds(172800000)},
        DurationCase{"WeeksAndYears", "1y1w", milliseconds(32140800000)},
        DurationCase{"Empty", "", std::nullopt}, DurationCase{"NoUnit", "10", std::nullopt},
        DurationCase{"Zero", "0s", milliseconds(0)}, DurationCase{"BareZero", "0", milliseconds(0)},
        DurationCase{"UnitAlone", "s", std::nullopt},
        DurationCase{"UnknownUnit", "10x", std::nullopt},
        DurationCase{"WrongOrder", "30m1h", std::nullopt},
        DurationCase{"UnitTwice", "1s1s", std::nullopt},
        DurationCase{"Negative", "-5s", std::nullopt},
        DurationCase{"Fraction", "1.5s", std::nullopt}, DurationCase{"Blank", "10 s", std::nullopt},
        DurationCase{"TrailingText", "10sx", std::nullopt},
        DurationCase{"Overflow", "99999999999999999y", std::nullopt}),
    [](const testing::TestParamInfo<DurationCase>& testCase) { return testCase.param.name; });

TEST(FleetConfig, ReadsEveryField)
{
    const ConfigResult result = parseFleetConfig(R"(projectors:
  - name: hall-a
    device: /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0
  - name: hall-b
    device: rfc2217:serial-server:4001
    speed: 9600
    interval: 30s
    console: "[::1]:4660"
    pjlink:
      listen: 0.0.0.0:4352
      password_file: /etc/qx200d/hall-b.pjlink
      name: Main hall
      model: QX-200
      inputs: {video: 22, hdmi: 32}
operator_quiet: 5s
)");
    ASSERT_TRUE(result.config.has_value()) << result.error.toStdString();
    const auto& projectors = result.config->projectors;
    ASSERT_EQ(projectors.size(), 2u);
    EXPECT_EQ(projectors[0].name, "hall-a");
    EXPECT_EQ(projectors[0].device, "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
    EXPECT_EQ(projectors[0].speed, 19200);
    EXPECT_EQ(projectors[0].interval, milliseconds(10000));
    EXPECT_EQ(projectors[1].device, "rfc2217:serial-server:4001");
    EXPECT_EQ(projectors[1].speed, 9600);
    EXPECT_EQ(projectors[1].interval, milliseconds(30000));
    EXPECT_FALSE(projectors[0].console.has_value());
    EXPECT_EQ(projectors[1].console, (SocketAddress{QHostAddress::LocalHostIPv6, 4660}));
    EXPECT_EQ(result.config->operatorQuiet, milliseconds(5000));
    EXPECT_FALSE(projectors[0].pjlink.has_value());
    ASSERT_TRUE(projectors[1].pjlink.has_value());
    const PjlinkConfig& pjlink = *projectors[1].pjlink;
    EXPECT_EQ(pjlink.listen, (SocketAddress{QHostAddress::AnyIPv4, 4352}));
    EXPECT_EQ(pjlink.passwordFile, "/etc/qx200d/hall-b.pjlink");
    EXPECT_EQ(pjlink.name, "Main hall");
    EXPECT_EQ(pjlink.model, "QX-200");
    EXPECT_TRUE(pjlink.manufacturer.isEmpty());
    EXPECT_EQ(pjlink.inputs, (std::array<QByteArray, 4>{"11", "12", "22", "32"}));
}

struct BadFile {
    const char* name;
    const char* yaml;
    const char* error; // the whole text, line included
};

class BadFiles : public testing::TestWithParam<BadFile> {};

const std::string DeepNesting(5000, '[');

TEST_P(BadFiles, AreRefusedWithTheLineAndTheReason)
{
    const ConfigResult result = parseFleetConfig(GetParam().yaml);
    EXPECT_FALSE(result.config.has_value());
    EXPECT_EQ(result.error.toStdString(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    FleetConfig, BadFiles,
    testing::Values(
        BadFile{"Empty", "", "line 1: the file must have a \"projectors:\" list"},
        BadFile{"NoList", "projectors:\n",
                "line 1: \"projectors:\" must list at least one projector"},
        BadFile{"UnknownTopKey", "projectors:\n  - {name: a, device: /dev/x}\nextra: 1\n",
                "line 3: unknown key \"extra\" (known: projectors, operator_quiet)"},
        BadFile{"SyntaxError", "projectors:\n  - name: [a\n",
                "line 3: end of sequence flow not found"},
        BadFile{"EntryNotAMap", "projectors:\n  - hall-a\n",
                "line 2: each projector must be a map with name and device"},
        BadFile{"NoName", "projectors:\n  - device: /dev/x\n", "line 2: a projector has no name"},
        BadFile{"NoDevice", "projectors:\n  - name: a\n", "line 2: projector \"a\" has no device"},
        BadFile{"NameNotText", "projectors:\n  - name: [a]\n    device: /dev/x\n",
                "line 2: name must be a text"},
        BadFile{"BadDevice", "projectors:\n  - name: a\n    device: tcp:host\n",
                "line 3: tcp:host: expected HOST:PORT"},
        BadFile{"BadSpeed", "projectors:\n  - name: a\n    device: /dev/x\n    speed: 115200\n",
                "line 4: speed must be 19200 or 9600, not \"115200\""},
        BadFile{"BadInterval", "projectors:\n  - name: a\n    device: /dev/x\n    interval: 10\n",
                "line 4: interval \"10\" is no duration such as 500ms, 10s, 1m or 1h30m"},
        BadFile{"UnknownKey", "projectors:\n  - name: a\n    device: /dev/x\n    intervall: 5s\n",
                "line 4: unknown key \"intervall\" (known: name, device, speed, interval, console, "
                "pjlink)"},
        BadFile{"PjlinkWithoutListen",
                "projectors:\n  - name: a\n    device: /dev/x\n    pjlink: {password_file: /p}\n",
                "line 4: pjlink must be a map with listen (and password_file)"},
        BadFile{"PjlinkUnknownKey",
                "projectors:\n  - name: a\n    device: /dev/x\n    pjlink: {listen: "
                "127.0.0.1:4352, password: x}\n",
                "line 4: unknown key \"password\" (known: listen, password_file, name, "
                "manufacturer, model, info, inputs)"},
        BadFile{"PjlinkInputCode",
                "projectors:\n  - name: a\n    device: /dev/x\n    pjlink:\n      listen: "
                "127.0.0.1:4352\n      inputs: {hdmi: 61}\n",
                "line 6: input code \"61\" must be a source type 1-5 and a number 1-9, such as 11 "
                "or 31"},
        BadFile{"PjlinkInputsTwice",
                "projectors:\n  - name: a\n    device: /dev/x\n    pjlink:\n      listen: "
                "127.0.0.1:4352\n      inputs: {hdmi: 11}\n",
                "line 6: pjlink inputs must have four different codes"},
        BadFile{"PjlinkNameTooLong",
                "projectors:\n  - name: a\n    device: /dev/x\n    pjlink:\n      listen: "
                "127.0.0.1:4352\n      manufacturer: 123456789012345678901234567890123\n",
                "line 6: manufacturer must be printable ASCII of at most 32 characters"},
        BadFile{"PjlinkTwice",
                "projectors:\n  - {name: a, device: /dev/x, pjlink: {listen: 127.0.0.1:4352}}\n"
                "  - {name: b, device: /dev/y, pjlink: {listen: 127.0.0.1:4352}}\n",
                "line 3: the pjlink address 127.0.0.1:4352 is used twice"},
        BadFile{"DuplicateName",
                "projectors:\n  - name: a\n    device: /dev/x\n  - name: a\n    device: /dev/y\n",
                "line 4: the name \"a\" is used twice"},
        BadFile{"DuplicateDevice",
                "projectors:\n  - name: a\n    device: /dev/x\n  - name: b\n    device: /dev/x\n",
                "line 5: the device \"/dev/x\" is used twice"},
        BadFile{"ConsoleNotAnAddress",
                "projectors:\n  - name: a\n    device: /dev/x\n    console: localhost:4660\n",
                "line 4: console: \"localhost:4660\" is no IP address with a port, such as "
                "127.0.0.1:4660 or [::1]:4660"},
        BadFile{"ConsoleWithoutPort",
                "projectors:\n  - name: a\n    device: /dev/x\n    console: 127.0.0.1\n",
                "line 4: console: \"127.0.0.1\" is no IP address with a port, such as "
                "127.0.0.1:4660 or [::1]:4660"},
        BadFile{"ConsoleTwice",
                "projectors:\n  - {name: a, device: /dev/x, console: 127.0.0.1:4660}\n"
                "  - {name: b, device: /dev/y, console: 127.0.0.1:4660}\n",
                "line 3: the console address 127.0.0.1:4660 is used twice"},
        BadFile{"ListTwice",
                "projectors:\n  - {name: a, device: /dev/x}\nprojectors:\n"
                "  - {name: b, device: /dev/y}\n",
                "line 3: the key \"projectors\" is given twice"},
        BadFile{"EntryKeyTwice",
                "projectors:\n  - name: a\n    device: /dev/x\n    device: /dev/y\n",
                "line 4: the key \"device\" is given twice"},
        BadFile{"IntervalOfDays", "projectors:\n  - {name: a, device: /dev/x, interval: 30d}\n",
                "line 2: interval \"30d\" is longer than 24h"},
        BadFile{"IntervalPastTheTimer",
                "projectors:\n  - {name: a, device: /dev/x, interval: 49d17h2m47s296ms}\n",
                "line 2: interval \"49d17h2m47s296ms\" is longer than 24h"},
        BadFile{"IntervalZero", "projectors:\n  - {name: a, device: /dev/x, interval: 0}\n",
                "line 2: interval must be longer than 0"},
        BadFile{"ControlCharacterInName", "projectors:\n  - {name: \"hall\\nb\", device: /dev/x}\n",
                "line 2: the name \"hall?b\" has a control character (U+000a)"},
        BadFile{"DeepNesting", DeepNesting.c_str(), "line 1: nested deeper than 500 levels"},
        BadFile{"BadOperatorQuiet",
                "projectors:\n  - {name: a, device: /dev/x}\noperator_quiet: soon\n",
                "line 3: operator_quiet \"soon\" is no duration such as 2s"}),
    [](const testing::TestParamInfo<BadFile>& testCase) { return testCase.param.name; });

TEST(FleetConfig, FileErrorsNameTheFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("fleet.yml");
    EXPECT_EQ(loadFleetConfig(path).error.left(path.size() + 15), path + ": cannot read: ");

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("projectors:\n  - name: a\n    device: /dev/x\n    speed: 1\n");
    file.close();
    EXPECT_EQ(loadFleetConfig(path).error,
              path + ": line 4: speed must be 19200 or 9600, not \"1\"");
}

// The service's start condition: waits on a file that names no projector, never on a mistake.
TEST(FleetConfig, NamesAProjectorUnlessNoneIsWritten)
{
    const std::pair<const char*, bool> cases[] = {
        {"", false},
        {"# every line a comment\n", false},
        {"projectors:\n#  - name: a\n#    device: /dev/x\n", false},
        {"projectors: []\n", false},
        {"operator_quiet: 2s\n", false},
        {"projectors:\n  - name: a\n    device: /dev/x\n", true},
        {"projectors: [{name: a, device: /dev/x}]\n", true},
        {"projectors:\n  - name: a\n   device: [\n", true}, // no YAML: the full check tells
        {"projectors: 3\n", true},
        {"- a\n", true},
    };
    for (const auto& [text, names] : cases)
        EXPECT_EQ(namesProjector(text), names) << text;
}

} // namespace
} // namespace qx200
