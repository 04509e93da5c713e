#include "service/ctl/CtlOptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <array>
#include <utility>

namespace qx200 {

namespace {

ParsedCtlOptions refuse(const QString& error)
{
    return {std::nullopt, error};
}

// The arguments each command takes after its name, as the usage shows them.
QString shape(ControlCommand command)
{
    switch (command) {
    case ControlCommand::List:
        return QStringLiteral("list");
    case ControlCommand::Status:
        return QStringLiteral("status NAME");
    case ControlCommand::Power:
        return QStringLiteral("power on|off NAME...");
    case ControlCommand::Input:
        return QStringLiteral("input pc1|pc2|video|hdmi NAME");
    case ControlCommand::Mute:
        return QStringLiteral("mute video|audio|all on|off NAME");
    case ControlCommand::Send:
        return QStringLiteral("send NAME LINE");
    }
    return {};
}

std::optional<bool> onOff(const QString& word)
{
    if (word == QLatin1String("on"))
        return true;
    if (word == QLatin1String("off"))
        return false;
    return std::nullopt;
}

// The request the command's words make; nothing when they do not fit its shape.
std::optional<ControlRequest> requestFrom(ControlCommand command, const QStringList& words)
{
    ControlRequest request;
    request.command = command;
    const qsizetype n = words.size();
    switch (command) {
    case ControlCommand::List:
        if (n != 0)
            return std::nullopt;
        break;
    case ControlCommand::Status:
        if (n != 1)
            return std::nullopt;
        request.projectors = words;
        break;
    case ControlCommand::Power: {
        const auto on = n >= 2 ? onOff(words[0]) : std::nullopt;
        if (!on)
            return std::nullopt;
        request.on = *on;
        request.projectors = words.mid(1);
        break;
    }
    case ControlCommand::Input: {
        const auto input = n == 2 ? inputFromKeyword(words[0]) : std::nullopt;
        if (!input)
            return std::nullopt;
        request.input = *input;
        request.projectors = words.mid(1);
        break;
    }
    case ControlCommand::Mute: {
        const auto mute = n == 3 ? muteFromKeyword(words[0]) : std::nullopt;
        const auto on = n == 3 ? onOff(words[1]) : std::nullopt;
        if (!mute || !on)
            return std::nullopt;
        request.mute = *mute;
        request.on = *on;
        request.projectors = words.mid(2);
        break;
    }
    case ControlCommand::Send:
        if (n != 2)
            return std::nullopt;
        request.projectors = words.mid(0, 1);
        request.line = words[1].toUtf8();
        break;
    }
    return request;
}

} // namespace

ParsedCtlOptions parseCtlOptions(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption socket(QStringLiteral("socket"), {}, QStringLiteral("PATH"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Options come before the command: a line to send may start with a dash.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.addOptions({socket, json, help, version});
    if (!parser.parse(QStringList{QStringLiteral("qx200ctl")} + args))
        return refuse(parser.errorText());

    CtlOptions options;
    if (parser.isSet(help)) {
        options.mode = CtlOptions::Mode::Help;
        return {options, {}};
    }
    if (parser.isSet(version)) {
        options.mode = CtlOptions::Mode::Version;
        return {options, {}};
    }
    options.socket = parser.value(socket);
    if (parser.isSet(socket) && options.socket.isEmpty())
        return refuse(QStringLiteral("--socket needs a path"));
    options.json = parser.isSet(json);

    QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return refuse(QStringLiteral("no command"));
    const QString name = words.takeFirst();
    const auto command = commandFromKeyword(name);
    if (!command)
        return refuse(QStringLiteral("unknown command \"%1\"").arg(name));
    const auto request = requestFrom(*command, words);
    if (!request)
        return refuse(QStringLiteral("expected: qx200ctl %1").arg(shape(*command)));
    // What the service would refuse, told here: a name twice, a line with a CR in it.
    const DecodedRequest checked = decodeRequest(encodeRequest(*request).trimmed());
    if (!checked.request)
        return refuse(checked.error);
    options.request = *request;
    return {options, {}};
}

std::optional<int> exitWithoutService(const ParsedCtlOptions& parsed)
{
    if (!parsed.options)
        return CtlUsage;
    if (parsed.options->mode != CtlOptions::Mode::Run)
        return CtlDone;
    return std::nullopt;
}

std::optional<QString> locateControlSocket(const QStringList& folders)
{
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(QLatin1String(ControlSocketName));
        if (QFileInfo::exists(path))
            return path;
    }
    return std::nullopt;
}

QString ctlUsage()
{
    QString usage =
        QStringLiteral("Usage: qx200ctl [--socket PATH] [--json] COMMAND\n\nCommands:\n");
    const std::array<std::pair<ControlCommand, const char*>, 6> commands{{
        {ControlCommand::List, "the projectors: answering, power, who holds the line"},
        {ControlCommand::Status, "a projector's last readings and their age"},
        {ControlCommand::Power, "switch projectors on or off"},
        {ControlCommand::Input, "choose a projector's input"},
        {ControlCommand::Mute, "mute or unmute picture, sound or both"},
        {ControlCommand::Send, "send one command line, print the reply"},
    }};
    for (const auto& [command, what] : commands)
        usage += QStringLiteral("  %1\n      %2\n").arg(shape(command), QLatin1String(what));
    usage += QStringLiteral(
        "\nOptions:\n"
        "  --socket PATH  the service's control socket (default: qx200d.sock in the first of\n"
        "                 $RUNTIME_DIRECTORY, $XDG_RUNTIME_DIR/qx200d, /run/qx200d that has one)\n"
        "  --json         print the service's answer as JSON\n"
        "  --help         show this text\n"
        "  --version      show the version\n"
        "\n"
        "A reply to send is printed with CR as \\r and other control bytes as \\xNN.\n"
        "Exit status: 0 done, 1 refused or failed (the reason on stderr), 2 wrong usage.\n");
    return usage;
}

} // namespace qx200
