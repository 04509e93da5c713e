#include "service/ServiceOptions.h"

#include <gtest/gtest.h>

namespace qx200 {
namespace {

using Mode = ServiceOptions::Mode;

struct Accepted {
    const char* name;
    QStringList args;
    Mode mode;
    QString config;
    QString probeDevice;
    qint32 speed;
    bool json;
};

class AcceptedOptions : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedOptions, Parse)
{
    const Accepted& c = GetParam();
    const auto parsed = parseServiceOptions(c.args);
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->mode, c.mode);
    EXPECT_EQ(parsed.options->config, c.config);
    EXPECT_EQ(parsed.options->probeDevice, c.probeDevice);
    EXPECT_EQ(parsed.options->speed, c.speed);
    EXPECT_EQ(parsed.options->json, c.json);
}

INSTANTIATE_TEST_SUITE_P(
    ServiceOptions, AcceptedOptions,
    testing::Values(
        Accepted{"Serve", {"--config", "f.yml"}, Mode::Serve, "f.yml", "", 19200, false},
        Accepted{"ServeEquals",
                 {"--config=f.yml", "--listen=:9000"},
                 Mode::Serve,
                 "f.yml",
                 "",
                 19200,
                 false},
        Accepted{"Check",
                 {"--check-config", "--config", "f.yml"},
                 Mode::CheckConfig,
                 "f.yml",
                 "",
                 19200,
                 false},
        Accepted{
            "Probe", {"--probe", "/dev/ttyUSB0"}, Mode::Probe, "", "/dev/ttyUSB0", 19200, false},
        Accepted{"ProbeJsonSlow",
                 {"--probe", "tcp:host:4001", "--speed", "9600", "--json"},
                 Mode::Probe,
                 "",
                 "tcp:host:4001",
                 9600,
                 true},
        Accepted{"Help", {"--help"}, Mode::Help, "", "", 19200, false},
        Accepted{"Version", {"--version"}, Mode::Version, "", "", 19200, false}),
    [](const testing::TestParamInfo<Accepted>& testCase) { return testCase.param.name; });

struct Refused {
    const char* name;
    QStringList args;
    const char* error;
};

class RefusedOptions : public testing::TestWithParam<Refused> {};

TEST_P(RefusedOptions, SayWhy)
{
    const auto parsed = parseServiceOptions(GetParam().args);
    EXPECT_FALSE(parsed.options.has_value());
    EXPECT_EQ(parsed.error.toStdString(), GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    ServiceOptions, RefusedOptions,
    testing::Values(
        Refused{"Unknown", {"--bogus"}, "Unknown option 'bogus'."},
        Refused{"MissingValue", {"--config"}, "Missing value after '--config'."},
        Refused{"NoConfig", {}, "--config FILE is needed (or --probe DEVICE)"},
        Refused{"Positional", {"--config", "f", "extra"}, "unexpected argument \"extra\""},
        Refused{"BadListen",
                {"--config", "f", "--listen", "9733"},
                "--web.listen-address \"9733\": expected ADDRESS:PORT, e.g. 127.0.0.1:9733"},
        Refused{"ListenHostName",
                {"--config", "f", "--listen", "example.org:1"},
                "--web.listen-address \"example.org:1\": \"example.org\" is no IP address"},
        Refused{"ProbeWithConfig",
                {"--probe", "/dev/x", "--config", "f"},
                "--probe polls one device: leave out --config, --check-config, --names-projector "
                "and the --web options"},
        Refused{"ProbeBadDevice", {"--probe", "tcp:host"}, "--probe tcp:host: expected HOST:PORT"},
        Refused{"ProbeBadSpeed",
                {"--probe", "/dev/x", "--speed", "4800"},
                "--speed must be 19200 or 9600"},
        Refused{
            "JsonWithoutProbe", {"--config", "f", "--json"}, "--speed and --json go with --probe"},
        Refused{"TelemetryPathNotAPath",
                {"--config", "f", "--web.telemetry-path", "metrics"},
                "--web.telemetry-path must be a path such as /metrics (not /, /-/... or with a "
                "query)"}),
    [](const testing::TestParamInfo<Refused>& testCase) { return testCase.param.name; });

TEST(ServiceOptions, WebFlagsAsExportersHaveThem)
{
    const auto parsed = parseServiceOptions(
        {"--config", "f.yml", "--web.listen-address", "127.0.0.1:1", "--web.listen-address=[::1]:2",
         "--web.telemetry-path", "/m", "--web.config.file", "web.yml", "--web.enable-lifecycle"});
    ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
    EXPECT_EQ(parsed.options->listen,
              (QList<ListenAddress>{{QHostAddress("127.0.0.1"), 1}, {QHostAddress("::1"), 2}}));
    EXPECT_EQ(parsed.options->telemetryPath, "/m");
    EXPECT_EQ(parsed.options->webConfig, "web.yml");
    EXPECT_TRUE(parsed.options->lifecycle);
    const auto plain = parseServiceOptions({"--config", "f.yml"});
    EXPECT_EQ(plain.options->listen, (QList<ListenAddress>{{QHostAddress("127.0.0.1"), 9733}}));
    EXPECT_EQ(plain.options->telemetryPath, "/metrics");
    EXPECT_FALSE(plain.options->lifecycle);
}

// The address as a URL takes it, and the system's own reason for a failure; another qx200d is
// only suspected when the address is in use.
TEST(ServiceOptions, ListenTextsSayTheRealCause)
{
    EXPECT_EQ(listenAddressText({QHostAddress("::1"), 9733}), "[::1]:9733");
    EXPECT_EQ(listenAddressText({QHostAddress("127.0.0.1"), 9733}), "127.0.0.1:9733");
    EXPECT_EQ(listenAddressText({QHostAddress::Any, 9733}), "[::]:9733");
    EXPECT_EQ(listenFailureText({QHostAddress("1.2.3.4"), 9},
                                QAbstractSocket::SocketAddressNotAvailableError,
                                "The address is not available"),
              "cannot listen on 1.2.3.4:9: The address is not available");
    EXPECT_EQ(listenFailureText({QHostAddress("::1"), 9}, QAbstractSocket::AddressInUseError,
                                "The bound address is already in use"),
              "cannot listen on [::1]:9: The bound address is already in use (is another qx200d "
              "running?)");
}

TEST(ServiceOptions, RecordsUnlessToldNot)
{
    EXPECT_TRUE(parseServiceOptions({"--config", "f.yml"}).options->record);
    EXPECT_FALSE(parseServiceOptions({"--config", "f.yml", "--no-record"}).options->record);
}

struct ListenCase {
    const char* name;
    QString text;
    ListenAddress expected;
};

class ListenAddresses : public testing::TestWithParam<ListenCase> {};

TEST_P(ListenAddresses, Parse)
{
    QString error;
    EXPECT_EQ(parseListenAddress(GetParam().text, &error), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    ServiceOptions, ListenAddresses,
    testing::Values(ListenCase{"Default", DefaultListen, {QHostAddress("127.0.0.1"), 9733}},
                    ListenCase{"AllAddresses", ":9000", {QHostAddress::Any, 9000}},
                    ListenCase{"Localhost", "localhost:80", {QHostAddress::LocalHost, 80}},
                    ListenCase{"IPv6", "[::1]:9733", {QHostAddress("::1"), 9733}},
                    ListenCase{"AnyFreePort", "127.0.0.1:0", {QHostAddress("127.0.0.1"), 0}}),
    [](const testing::TestParamInfo<ListenCase>& testCase) { return testCase.param.name; });

} // namespace
} // namespace qx200
