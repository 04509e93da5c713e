#include "service/ServiceOptions.h"

#include "serial/DeviceAddress.h"
#include "service/FleetConfig.h"

#include <QCommandLineParser>

namespace qx200 {

namespace {

ParsedServiceOptions refuse(const QString& error)
{
    return {std::nullopt, error};
}

} // namespace

std::optional<ListenAddress> parseListenAddress(const QString& text, QString* error)
{
    const qsizetype colon = text.lastIndexOf(u':');
    bool numeric = false;
    const uint port = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&numeric);
    if (!numeric || port > 65535) {
        *error =
            QStringLiteral("--listen %1: expected ADDRESS:PORT, e.g. 127.0.0.1:9733").arg(text);
        return std::nullopt;
    }
    QString host = text.left(colon);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    if (host.isEmpty())
        return ListenAddress{QHostAddress::Any, quint16(port)};
    if (host == QStringLiteral("localhost"))
        return ListenAddress{QHostAddress::LocalHost, quint16(port)};
    const QHostAddress address(host);
    if (address.isNull()) {
        *error = QStringLiteral("--listen %1: \"%2\" is no IP address").arg(text, host);
        return std::nullopt;
    }
    return ListenAddress{address, quint16(port)};
}

ParsedServiceOptions parseServiceOptions(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption listen(QStringLiteral("listen"), {}, QStringLiteral("ADDR:PORT"));
    const QCommandLineOption check(QStringLiteral("check-config"));
    const QCommandLineOption namesProjector(QStringLiteral("names-projector"));
    const QCommandLineOption probe(QStringLiteral("probe"), {}, QStringLiteral("DEVICE"));
    const QCommandLineOption speed(QStringLiteral("speed"), {}, QStringLiteral("N"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption controlSocket(QStringLiteral("control-socket"), {},
                                           QStringLiteral("PATH"));
    const QCommandLineOption noRecord(QStringLiteral("no-record"));
    const QCommandLineOption help(QStringLiteral("help"));
    const QCommandLineOption version(QStringLiteral("version"));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({config, listen, check, namesProjector, probe, speed, json, help, version,
                       controlSocket, noRecord});
    if (!parser.parse(QStringList{QStringLiteral("qx200d")} + args))
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    ServiceOptions options;
    if (parser.isSet(help)) {
        options.mode = ServiceOptions::Mode::Help;
        return {options, {}};
    }
    if (parser.isSet(version)) {
        options.mode = ServiceOptions::Mode::Version;
        return {options, {}};
    }
    options.config = parser.value(config);
    options.controlSocket = parser.value(controlSocket);
    options.record = !parser.isSet(noRecord);
    QString error;
    const auto address =
        parseListenAddress(parser.isSet(listen) ? parser.value(listen) : DefaultListen, &error);
    if (!address)
        return refuse(error);
    options.listen = *address;

    if (parser.isSet(probe)) {
        if (parser.isSet(config) || parser.isSet(listen) || parser.isSet(check) ||
            parser.isSet(namesProjector))
            return refuse(QStringLiteral("--probe polls one device: leave out --config, --listen, "
                                         "--check-config and --names-projector"));
        options.mode = ServiceOptions::Mode::Probe;
        options.probeDevice = parser.value(probe);
        if (!parseDeviceAddress(options.probeDevice, &error))
            return refuse(QStringLiteral("--probe ") + error);
        options.json = parser.isSet(json);
        if (parser.isSet(speed)) {
            bool ok = false;
            options.speed = parser.value(speed).toInt(&ok);
            if (!ok || !lineSettingsFor(options.speed))
                return refuse(QStringLiteral("--speed must be 19200 or 9600"));
        }
        return {options, {}};
    }
    if (parser.isSet(speed) || parser.isSet(json))
        return refuse(QStringLiteral("--speed and --json go with --probe"));
    if (!parser.isSet(config))
        return refuse(QStringLiteral("--config FILE is needed (or --probe DEVICE)"));
    if (parser.isSet(check) && parser.isSet(namesProjector))
        return refuse(QStringLiteral("--check-config and --names-projector exclude each other"));
    options.mode = parser.isSet(check)            ? ServiceOptions::Mode::CheckConfig
                   : parser.isSet(namesProjector) ? ServiceOptions::Mode::NamesProjector
                                                  : ServiceOptions::Mode::Serve;
    return {options, {}};
}

QString serviceUsage()
{
    return QStringLiteral(
        "Usage: qx200d --config FILE [--listen ADDR:PORT] [--control-socket PATH]\n"
        "              [--no-record]\n"
        "       qx200d --config FILE --check-config | --names-projector\n"
        "       qx200d --probe DEVICE [--speed 19200|9600] [--json]\n"
        "\n"
        "Polls the projectors listed in FILE over their serial lines and serves their state\n"
        "for Prometheus at http://ADDR:PORT/metrics, and a status page at /.\n"
        "\n"
        "  --config FILE       YAML list of projectors (name, device, speed, interval)\n"
        "  --listen ADDR:PORT  where to serve (default 127.0.0.1:9733; :PORT for all addresses)\n"
        "  --control-socket PATH\n"
        "                      where qx200ctl reaches the service (default qx200d.sock in\n"
        "                      $RUNTIME_DIRECTORY, $XDG_RUNTIME_DIR/qx200d or /run/qx200d)\n"
        "  --no-record         keep no record of the lines (by default each projector's\n"
        "                      traffic goes to records/NAME/DAY.tsv in $STATE_DIRECTORY\n"
        "                      or $XDG_STATE_HOME/qx200d)\n"
        "  --check-config      check FILE and exit: 0 when it is good, 1 when not\n"
        "  --names-projector   exit 0 when FILE names a projector, 1 when it names none\n"
        "                      or is missing (the service's start condition)\n"
        "  --probe DEVICE      poll one projector once and print its readings;\n"
        "                      exit 0 when it answered, 1 when not\n"
        "  --speed N           the probed line's speed (default 19200)\n"
        "  --json              print the probe's readings as JSON\n"
        "  --help              show this text\n"
        "  --version           show the version\n"
        "\n"
        "DEVICE is a path (/dev/ttyUSB0, /dev/serial/by-id/...), tcp:HOST:PORT or\n"
        "rfc2217:HOST:PORT.\n");
}

} // namespace qx200
