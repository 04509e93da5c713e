#include "console/program/CommandLine.h"

#include "console/port/PortList.h"
#include "support/PseudoTerminal.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

using Action = CommandLine::Action;

struct ParseCase {
    const char* name;
    QStringList arguments; // after the program name
    Action action;
    QMap<std::int16_t, QString> devices = {};
    QString recordFile = {};
    bool noRecord = false;
    QString reason = {}; // Action::Error: the first line after the program's name
};

class ConsoleCommandLine : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ConsoleCommandLine, ReadsOptionsOrSaysWhatIsWrong)
{
    const ParseCase& c = GetParam();
    const CommandLine parsed =
        parseConsoleCommandLine(QStringList{QStringLiteral("qx200-control")} + c.arguments);
    ASSERT_EQ(parsed.action, c.action) << parsed.text.toStdString();
    EXPECT_EQ(parsed.exitStatus(), c.action == Action::Error ? 2 : 0);
    if (c.action == Action::Error) {
        const QStringList lines = parsed.text.split(u'\n');
        EXPECT_EQ(lines.value(0), QCoreApplication::applicationName() + ": " + c.reason);
        EXPECT_TRUE(lines.value(1).startsWith(QStringLiteral("Usage: ")))
            << lines.value(1).toStdString();
        return;
    }
    EXPECT_EQ(parsed.options.devices, c.devices);
    EXPECT_EQ(parsed.options.recordFile, c.recordFile);
    EXPECT_EQ(parsed.options.noRecord, c.noRecord);
}

const QString Tcp = QStringLiteral("tcp:serial-server:4001");
const QString Rfc = QStringLiteral("rfc2217:[::1]:4002");
const QString ById = QStringLiteral("/dev/serial/by-id/usb-FTDI_A1-if00-port0");

const ParseCase ParseCases[] = {
    {"Nothing", {}, Action::Run},
    {"Com1Path", {"--com1", "/dev/ttyUSB0"}, Action::Run, {{1, "/dev/ttyUSB0"}}},
    {"Com1ByIdInlineValue", {"--com1=" + ById}, Action::Run, {{1, ById}}},
    {"BothPortsOnTheNetwork", {"--com1", Tcp, "--com2", Rfc}, Action::Run, {{1, Tcp}, {2, Rfc}}},
    {"Record", {"--record", "/tmp/session.log"}, Action::Run, {}, "/tmp/session.log"},
    {"NoRecord", {"--no-record"}, Action::Run, {}, {}, true},
    {"Help", {"--help"}, Action::Help},
    {"HelpShort", {"-h"}, Action::Help},
    {"HelpWinsOverAnyOther", {"--com1", "udp:x:1", "--help"}, Action::Help},
    {"Version", {"--version"}, Action::Version},
    {"ListPorts", {"--list-ports"}, Action::ListPorts},
    {"ToolkitOptionsAreLeftToQt",
     {"-platform", "offscreen", "-style=Fusion", "-reverse"},
     Action::Run},
    {"UnknownOption",
     {"--frobnicate"},
     Action::Error,
     {},
     {},
     false,
     "Unknown option 'frobnicate'."},
    {"MissingDevice", {"--com1"}, Action::Error, {}, {}, false, "Missing value after '--com1'."},
    {"EmptyDevice",
     {"--com2="},
     Action::Error,
     {},
     {},
     false,
     "--com2 needs a device: a path, tcp:HOST:PORT or rfc2217:HOST:PORT"},
    {"MalformedTcp",
     {"--com1", "tcp:host"},
     Action::Error,
     {},
     {},
     false,
     "--com1: tcp:host: expected HOST:PORT"},
    {"PortOutOfRange",
     {"--com2", "rfc2217:host:70000"},
     Action::Error,
     {},
     {},
     false,
     "--com2: rfc2217:host:70000: the port must be a number from 1 to 65535"},
    {"UnknownKind",
     {"--com1", "udp:host:1"},
     Action::Error,
     {},
     {},
     false,
     "--com1: udp:host:1: unknown device kind \"udp\" (use a path, tcp: or rfc2217:)"},
    {"PositionalArgument",
     {"/dev/ttyUSB0"},
     Action::Error,
     {},
     {},
     false,
     "unexpected argument '/dev/ttyUSB0'"},
    {"RecordAndNoRecord",
     {"--record", "a.log", "--no-record"},
     Action::Error,
     {},
     {},
     false,
     "--record and --no-record exclude each other"},
    {"RecordWithoutFile",
     {"--record="},
     Action::Error,
     {},
     {},
     false,
     "--record needs a file name"},
};

INSTANTIATE_TEST_SUITE_P(Arguments, ConsoleCommandLine, ::testing::ValuesIn(ParseCases),
                         [](const auto& paramInfo) { return std::string(paramInfo.param.name); });

// The real program, run the way a user runs it: what it prints where, and its exit status.
struct ProgramRun {
    int status = -1;
    QString out;
    QString err;
};

ProgramRun runConsole(const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QX200_CONTROL_PATH), arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

// No display at all: these answers must not need one.
QProcessEnvironment withoutDisplay(const QString& configHome)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QX200_COM1", "QX200_COM2"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return environment;
}

class ConsoleProgram : public ::testing::Test {
protected:
    ProgramRun run(const QStringList& arguments) { return runConsole(arguments, environment); }

    QTemporaryDir config;
    QProcessEnvironment environment = withoutDisplay(config.path());
};

TEST_F(ConsoleProgram, AnswersHelpAndVersionOnStandardOutput)
{
    const ProgramRun version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, QStringLiteral("qx200-control 1.40\n"));
    EXPECT_EQ(version.err, QString());

    const ProgramRun help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Usage: qx200-control [options]\n")))
        << help.out.toStdString();
    for (const char* option : {"--com1 <DEVICE>", "--com2 <DEVICE>", "--list-ports",
                               "--record <FILE>", "--no-record", "--version"})
        EXPECT_TRUE(help.out.contains(QString::fromLatin1(option))) << option;
}

TEST_F(ConsoleProgram, RefusesAWrongCommandLineWithStatus2)
{
    for (const QStringList& arguments :
         {QStringList{"--frobnicate"}, QStringList{"--com1", "tcp:nowhere"}, QStringList{"x"}}) {
        const ProgramRun wrong = run(arguments);
        EXPECT_EQ(wrong.status, 2) << arguments.join(u' ').toStdString();
        EXPECT_EQ(wrong.out, QString());
        const QStringList lines = wrong.err.split(u'\n');
        EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("qx200-control: ")));
        EXPECT_EQ(lines.value(1), QStringLiteral("Usage: qx200-control [options]"));
    }
}

TEST_F(ConsoleProgram, ListsThePortsOneALine)
{
    const ProgramRun listed = run({"--list-ports"});
    EXPECT_EQ(listed.status, 0);
    QString expected;
    for (const SerialDeviceInfo& device : findSerialDevices())
        expected += portLine(device) + u'\n';
    EXPECT_EQ(listed.out, expected);
}

TEST_F(ConsoleProgram, RefusesToStartOnAMalformedDeviceAndSaysWhereItIsWritten)
{
    const QString file = config.path() + QStringLiteral("/qx200-control/qx200-control.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(file).path()));
    QFile settings(file);
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[ports]\nCOM2=tcp:serial-server\n");
    settings.close();
    const ProgramRun fromFile = run({});
    EXPECT_EQ(fromFile.status, 1);
    EXPECT_EQ(fromFile.err, QStringLiteral("qx200-control: %1, ports/COM2: tcp:serial-server: "
                                           "expected HOST:PORT\n")
                                .arg(file));

    environment.insert(QStringLiteral("QX200_COM1"), QStringLiteral("rfc2217:host:0"));
    const ProgramRun fromEnvironment = run({"--com2", "/dev/ttyS1"});
    EXPECT_EQ(fromEnvironment.status, 1);
    EXPECT_EQ(fromEnvironment.err,
              QStringLiteral("qx200-control: QX200_COM1: rfc2217:host:0: the port must be a "
                             "number from 1 to 65535\n"));
}

// The window's start-up opens COM1 on the device each source names: the console then holds the
// flock on the pseudo-terminal standing in for it.
enum class Where { CommandLine, Environment, SettingsFile };

class ConsoleStartsOn : public ConsoleProgram, public ::testing::WithParamInterface<Where> {};

TEST_P(ConsoleStartsOn, TheDeviceItsSourceNames)
{
    qx200::testing::PseudoTerminal pty;
    QStringList arguments;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (GetParam() == Where::CommandLine)
        arguments = QStringList{"--com1", pty.link()};
    if (GetParam() == Where::Environment)
        environment.insert(QStringLiteral("QX200_COM1"), pty.link());
    if (GetParam() == Where::SettingsFile) {
        QDir().mkpath(config.filePath("qx200-control"));
        QFile settings(config.filePath("qx200-control/qx200-control.conf"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[ports]\nCOM1=" + pty.link().toLocal8Bit() + "\n");
    }
    QProcess console;
    console.setProcessEnvironment(environment);
    console.start(QStringLiteral(QX200_CONTROL_PATH), arguments);
    ASSERT_TRUE(console.waitForStarted(10000));
    const qint64 pid = console.processId();
    std::optional<DeviceHolder> holder;
    for (QDeadlineTimer deadline(20000); !holder && !deadline.hasExpired(); QThread::msleep(20))
        holder = flockHolder(pty.slavePath());
    console.kill();
    console.waitForFinished(10000);
    ASSERT_TRUE(holder);
    EXPECT_EQ(holder->pid, pid);
}

INSTANTIATE_TEST_SUITE_P(Sources, ConsoleStartsOn,
                         ::testing::Values(Where::CommandLine, Where::Environment,
                                           Where::SettingsFile),
                         [](const auto& paramInfo) {
                             return std::string(
                                 paramInfo.param == Where::CommandLine   ? "CommandLine"
                                 : paramInfo.param == Where::Environment ? "Environment"
                                                                         : "SettingsFile");
                         });

} // namespace
} // namespace qx200
