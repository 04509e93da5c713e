#include "console/program/CommandLine.h"

#include "console/port/PortList.h"
#include "serial/DeviceAddress.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <array>
#include <cstdio>

namespace qx200 {
namespace {

const QString DeviceHelp = QStringLiteral("a path, tcp:HOST:PORT or rfc2217:HOST:PORT");

struct PortOption {
    std::int16_t port;
    QCommandLineOption option;
};

// Without an application object the parser names the program "<executable_name>".
QString helpText(const QCommandLineParser& parser)
{
    return parser.helpText().replace(QStringLiteral("<executable_name>"),
                                     QCoreApplication::applicationName());
}

// --com1 DEVICE, --com2 DEVICE
PortOption portOption(std::int16_t port)
{
    return {port,
            QCommandLineOption(QStringLiteral("com%1").arg(port),
                               QStringLiteral("COM%1 is DEVICE: %2.").arg(port).arg(DeviceHelp),
                               QStringLiteral("DEVICE"))};
}

// The options QApplication takes for itself (-platform offscreen, -style Fusion, ...): accepted
// here, left in the arguments for it, and not shown in the usage.
void acceptToolkitOptions(QCommandLineParser& parser)
{
    struct ToolkitOption {
        const char* name;
        bool takesValue;
    };
    constexpr ToolkitOption Options[] = {
        {"platform", true},        {"platformpluginpath", true},
        {"platformtheme", true},   {"plugin", true},
        {"qwindowgeometry", true}, {"qwindowicon", true},
        {"qwindowtitle", true},    {"style", true},
        {"stylesheet", true},      {"display", true},
        {"geometry", true},        {"session", true},
        {"reverse", false},        {"widgetcount", false},
        {"nograb", false},         {"dograb", false},
        {"sync", false},
    };
    for (const auto& [name, takesValue] : Options) {
        QCommandLineOption option(QString::fromLatin1(name), QString(),
                                  takesValue ? QStringLiteral("VALUE") : QString());
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

CommandLine refuse(const QCommandLineParser& parser, const QString& reason)
{
    return {CommandLine::Action::Error,
            {},
            QCoreApplication::applicationName() + QStringLiteral(": ") + reason + u'\n' +
                helpText(parser)};
}

} // namespace

CommandLine parseConsoleCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Control console for a projector on a serial line.\n\nCOMn is, in this "
                       "order: --comN, the environment variable QX200_COM<n>, the key ports/COM<n> "
                       "in $XDG_CONFIG_HOME/qx200-control/qx200-control.conf, /dev/ttyS<n-1>. A "
                       "device is ") +
        DeviceHelp + u'.');
    const std::array ports{portOption(1), portOption(2)};
    const QCommandLineOption listPorts(QStringLiteral("list-ports"),
                                       QStringLiteral("Print the serial devices found and exit."));
    const QCommandLineOption record(QStringLiteral("record"),
                                    QStringLiteral("Record the session into FILE."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption noRecord(QStringLiteral("no-record"),
                                      QStringLiteral("Keep no record of the session."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    for (const PortOption& port : ports)
        parser.addOption(port.option);
    parser.addOptions({listPorts, record, noRecord, help, version});
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    acceptToolkitOptions(parser);

    if (!parser.parse(arguments))
        return refuse(parser, parser.errorText());
    if (parser.isSet(help))
        return {CommandLine::Action::Help, {}, helpText(parser)};
    if (parser.isSet(version))
        return {CommandLine::Action::Version,
                {},
                QCoreApplication::applicationName() + u' ' +
                    QCoreApplication::applicationVersion() + u'\n'};
    if (!parser.positionalArguments().isEmpty())
        return refuse(parser, QStringLiteral("unexpected argument '%1'")
                                  .arg(parser.positionalArguments().constFirst()));

    ConsoleOptions options;
    for (const PortOption& port : ports) {
        if (!parser.isSet(port.option))
            continue;
        const QString name = QStringLiteral("--") + port.option.names().constFirst();
        const QString device = parser.value(port.option);
        QString error;
        if (device.isEmpty())
            return refuse(parser, name + QStringLiteral(" needs a device: ") + DeviceHelp);
        if (!parseDeviceAddress(device, &error))
            return refuse(parser, name + QStringLiteral(": ") + error);
        options.devices.insert(port.port, device);
    }
    if (parser.isSet(record) && parser.isSet(noRecord))
        return refuse(parser, QStringLiteral("--record and --no-record exclude each other"));
    if (parser.isSet(record) && parser.value(record).isEmpty())
        return refuse(parser, QStringLiteral("--record needs a file name"));
    options.recordFile = parser.value(record);
    options.noRecord = parser.isSet(noRecord);
    if (parser.isSet(listPorts))
        return {CommandLine::Action::ListPorts, options, {}};
    return {CommandLine::Action::Run, options, {}};
}

int answerCommandLine(const CommandLine& command)
{
    QString out = command.text;
    if (command.action == CommandLine::Action::ListPorts) {
        const QList<SerialDeviceInfo> devices = findSerialDevices();
        for (const SerialDeviceInfo& device : devices)
            out += portLine(device) + u'\n';
        if (devices.isEmpty())
            std::fprintf(stderr, "%s: no serial devices found\n",
                         qPrintable(QCoreApplication::applicationName()));
    }
    std::fputs(out.toLocal8Bit().constData(),
               command.action == CommandLine::Action::Error ? stderr : stdout);
    return command.exitStatus();
}

} // namespace qx200
