#include "console/port/DeviceResolution.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using Source = DeviceSource;

struct OrderCase {
    const char* name;
    DeviceChoices choices;
    std::int16_t port;
    ResolvedDevice expected;
};

class DeviceOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(DeviceOrder, TakesTheFirstSourceThatNamesThePort)
{
    EXPECT_EQ(resolveDevice(GetParam().port, GetParam().choices), GetParam().expected);
}

const DeviceChoices AllThree{{{1, "tcp:cli:1"}}, {{1, "tcp:env:1"}}, {{1, "tcp:file:1"}}, {}, {}};
const DeviceChoices LowerTwo{{}, {{1, "tcp:env:1"}}, {{1, "tcp:file:1"}}, {}, {}};
const DeviceChoices FileOnly{{}, {}, {{1, "tcp:file:1"}, {2, "/dev/ttyUSB1"}}, {}, {}};
const DeviceChoices OtherPort{{{2, "/dev/ttyUSB9"}}, {{2, "/dev/ttyUSB8"}}, {}, {}, {}};

const OrderCase OrderCases[] = {
    {"CommandLineFirst", AllThree, 1, {"tcp:cli:1", Source::CommandLine}},
    {"EnvironmentBeforeSettingsFile", LowerTwo, 1, {"tcp:env:1", Source::Environment}},
    {"SettingsFile", FileOnly, 1, {"tcp:file:1", Source::SettingsFile}},
    {"DefaultCom1", OtherPort, 1, {"/dev/ttyS0", Source::Default}},
    {"DefaultCom7", AllThree, 7, {"/dev/ttyS6", Source::Default}},
};

INSTANTIATE_TEST_SUITE_P(Sources, DeviceOrder, ::testing::ValuesIn(OrderCases),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

TEST(DeviceLine, SaysWhatEachPortIsAndWhereThatIsWritten)
{
    DeviceChoices file = FileOnly;
    file.settingsPath = "/home/op/.config/qx200-control/qx200-control.conf";
    EXPECT_EQ(deviceLine(1, AllThree), "COM1 = tcp:cli:1 (from --com1)");
    EXPECT_EQ(deviceLine(1, LowerTwo), "COM1 = tcp:env:1 (from QX200_COM1)");
    EXPECT_EQ(deviceLine(2, file),
              "COM2 = /dev/ttyUSB1 (from "
              "/home/op/.config/qx200-control/qx200-control.conf, ports/COM2)");
    EXPECT_EQ(deviceLine(1, OtherPort), "COM1 = /dev/ttyS0 (the default)");
}

QProcessEnvironment environmentOf(std::initializer_list<std::pair<const char*, const char*>> vars)
{
    QProcessEnvironment environment;
    for (const auto& [name, value] : vars)
        environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
    return environment;
}

TEST(SettingsFilePath, FollowsTheBaseDirectoryRules)
{
    EXPECT_EQ(settingsFilePath(environmentOf({{"XDG_CONFIG_HOME", "/cfg"}, {"HOME", "/home/a"}})),
              QStringLiteral("/cfg/qx200-control/qx200-control.conf"));
    EXPECT_EQ(settingsFilePath(environmentOf({{"HOME", "/home/a"}})),
              QStringLiteral("/home/a/.config/qx200-control/qx200-control.conf"));
    EXPECT_EQ(settingsFilePath(environmentOf({{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/a"}})),
              QStringLiteral("/home/a/.config/qx200-control/qx200-control.conf"));
    EXPECT_EQ(settingsFilePath(environmentOf({{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/a"}})),
              QStringLiteral("/home/a/.config/qx200-control/qx200-control.conf"));
}

// The settings file in a temporary XDG_CONFIG_HOME, beside the environment's variables.
class DeviceSettings : public ::testing::Test {
protected:
    void write(const QByteArray& contents)
    {
        const QString path = settingsFilePath(environment);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QTemporaryDir config;
    QProcessEnvironment environment = environmentOf({});
    void SetUp() override { environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path()); }
};

TEST_F(DeviceSettings, ReadsPortsFromTheFileAndTheEnvironment)
{
    write("[ports]\n"
          "COM1=/dev/serial/by-id/usb-FTDI_A1-if00-port0\n"
          "COM2=\"rfc2217:[::1]:4002\"\n"
          "COM3=\n"
          "speed=9600\n"
          "[other]\nCOM4=/dev/ttyUSB4\n");
    environment.insert(QStringLiteral("QX200_COM2"), QStringLiteral("tcp:serial-server:4001"));
    environment.insert(QStringLiteral("QX200_COM5"), QString());
    environment.insert(QStringLiteral("QX200_COMX"), QStringLiteral("/dev/ttyUSB0"));
    QString error;
    const DeviceChoices choices = readDeviceChoices(environment, &error);
    EXPECT_EQ(error, QString());
    EXPECT_EQ(choices.settingsPath, settingsFilePath(environment));
    const QMap<std::int16_t, QString> fromFile{{1, "/dev/serial/by-id/usb-FTDI_A1-if00-port0"},
                                               {2, "rfc2217:[::1]:4002"}};
    EXPECT_EQ(choices.settingsFile, fromFile);
    EXPECT_EQ(choices.environment, (QMap<std::int16_t, QString>{{2, "tcp:serial-server:4001"}}));
    EXPECT_TRUE(choices.commandLine.isEmpty());
    EXPECT_EQ(resolveDevice(2, choices).device, QStringLiteral("tcp:serial-server:4001"));
    EXPECT_EQ(choices.settingsMistakes.size(), 2); // ports/speed, other/COM4
}

TEST_F(DeviceSettings, KeysTheConsoleDoesNotReadAreTold)
{
    write("com1=/dev/ttyUSB0\n[Ports]\nCOM2=/dev/ttyUSB1\n");
    const DeviceChoices choices = readDeviceChoices(environment);
    EXPECT_TRUE(choices.settingsFile.isEmpty());
    const QString path = settingsFilePath(environment);
    const QString known = QStringLiteral(" (the console reads COM1, COM2, ... under [ports], e.g. "
                                         "ports/COM1=/dev/ttyUSB0)");
    EXPECT_EQ(choices.settingsMistakes, (QStringList{path + ": unknown key \"Ports/COM2\"" + known,
                                                     path + ": unknown key \"com1\"" + known}));
}

TEST_F(DeviceSettings, AMissingFileNamesNothing)
{
    QString error;
    EXPECT_TRUE(readDeviceChoices(environment, &error).settingsFile.isEmpty());
    EXPECT_EQ(error, QString());
}

TEST_F(DeviceSettings, AFileThatIsNoSettingsFileIsAnError)
{
    write(QByteArray("[ports\nCOM1=/dev/ttyUSB0\n\xff\xfe", 25));
    QString error;
    readDeviceChoices(environment, &error);
    EXPECT_TRUE(error.startsWith(settingsFilePath(environment) + ": cannot be read"))
        << error.toStdString();
}

// A comma does not make the value a list to drop: the device is read as written, and a
// malformed one is told as such instead of falling back to the default device.
TEST_F(DeviceSettings, AValueWithACommaIsReadAsWritten)
{
    write("[ports]\nCOM1=tcp:127.0.0.1:4001,\n");
    const DeviceChoices choices = readDeviceChoices(environment);
    EXPECT_EQ(resolveDevice(1, choices).device, QStringLiteral("tcp:127.0.0.1:4001,"));
    EXPECT_TRUE(
        checkDevices(choices, {1})
            .startsWith(settingsFilePath(environment) + ", ports/COM1: tcp:127.0.0.1:4001,: "))
        << checkDevices(choices, {1}).toStdString();
}

// The rule of this process reads the same file, at the place the process's environment names.
TEST_F(DeviceSettings, IsReadWhereTheProcessEnvironmentSays)
{
    write("[ports]\nCOM9=tcp:serial-server:4009\n");
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    const QString device = devicePathFor(9);
    saved.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_EQ(device, QStringLiteral("tcp:serial-server:4009"));
}

TEST(DevicePath, ComesFromTheEnvironmentOrTheClassicDevice)
{
    qputenv("QX200_COM7", "/dev/ttyUSB3");
    EXPECT_EQ(devicePathFor(7), QStringLiteral("/dev/ttyUSB3"));
    qunsetenv("QX200_COM7");
    EXPECT_EQ(devicePathFor(7), QStringLiteral("/dev/ttyS6"));
    EXPECT_EQ(devicePathFor(1), qEnvironmentVariableIsSet("QX200_COM1")
                                    ? qEnvironmentVariable("QX200_COM1")
                                    : QStringLiteral("/dev/ttyS0"));
}

struct CheckCase {
    const char* name;
    DeviceChoices choices;
    const char* expected; // empty: every device is well formed
};

class DeviceCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(DeviceCheck, NamesWhereAMalformedDeviceIsWritten)
{
    EXPECT_EQ(checkDevices(GetParam().choices, {1, 2}).toStdString(), GetParam().expected);
}

const CheckCase CheckCases[] = {
    {"AllWellFormed", {{{1, "tcp:a:1"}}, {{2, "rfc2217:b:2"}}, {{1, "bad:"}}, "/c.conf", {}}, ""},
    {"CommandLine", {{{2, "tcp:a"}}, {}, {}, {}, {}}, "--com2: tcp:a: expected HOST:PORT"},
    {"Environment", {{}, {{1, "tcp::5"}}, {}, {}, {}}, "QX200_COM1: tcp::5: no host given"},
    {"SettingsFile",
     {{}, {}, {{2, "serial:ttyS0"}}, "/c.conf", {}},
     "/c.conf, ports/COM2: serial:ttyS0: unknown device kind \"serial\" (use a path, tcp: or "
     "rfc2217:)"},
    {"OnlyTheAskedPorts", {{}, {{3, "tcp:a"}}, {}, {}, {}}, ""},
};

INSTANTIATE_TEST_SUITE_P(Sources, DeviceCheck, ::testing::ValuesIn(CheckCases),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

} // namespace
} // namespace qx200
