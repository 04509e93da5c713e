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
        *error = QStringLiteral("\"%1\": expected ADDRESS:PORT, e.g. 127.0.0.1:9733").arg(text);
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
        *error = QStringLiteral("\"%1\": \"%2\" is no IP address").arg(text, host);
        return std::nullopt;
    }
    return ListenAddress{address, quint16(port)};
}

QString listenAddressText(const ListenAddress& at)
{
    if (at.address == QHostAddress::Any)
        return QStringLiteral("[::]:%1").arg(at.port);
    const QString host = at.address.toString();
    return at.address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]:%2").arg(host).arg(at.port)
               : QStringLiteral("%1:%2").arg(host).arg(at.port);
}

QString listenFailureText(const ListenAddress& at, QAbstractSocket::SocketError error,
                          const QString& errorString)
{
    const QString hint = error == QAbstractSocket::AddressInUseError
                             ? QStringLiteral(" (is another qx200d running?)")
                             : QString();
    return QStringLiteral("cannot listen on %1: %2%3")
        .arg(listenAddressText(at), errorString, hint);
}

ParsedServiceOptions parseServiceOptions(const QStringList& args)
{
    QCommandLineParser parser;
    const QCommandLineOption config(QStringLiteral("config"), {}, QStringLiteral("FILE"));
    const QCommandLineOption listen(
        {QStringLiteral("web.listen-address"), QStringLiteral("listen")}, {},
        QStringLiteral("ADDR:PORT"));
    const QCommandLineOption telemetryPath(QStringLiteral("web.telemetry-path"), {},
                                           QStringLiteral("PATH"));
    const QCommandLineOption webConfig(QStringLiteral("web.config.file"), {},
                                       QStringLiteral("FILE"));
    const QCommandLineOption lifecycle(QStringLiteral("web.enable-lifecycle"));
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
                       controlSocket, noRecord, telemetryPath, webConfig, lifecycle});
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
    const QStringList addresses =
        parser.isSet(listen) ? parser.values(listen) : QStringList{DefaultListen};
    for (const QString& text : addresses) {
        const auto address = parseListenAddress(text, &error);
        if (!address)
            return refuse(QStringLiteral("--web.listen-address ") + error);
        options.listen.append(*address);
    }
    if (parser.isSet(telemetryPath)) {
        options.telemetryPath = parser.value(telemetryPath).toUtf8();
        if (!options.telemetryPath.startsWith('/') || options.telemetryPath == "/" ||
            options.telemetryPath.startsWith("/-/") || options.telemetryPath.contains('?'))
            return refuse(QStringLiteral("--web.telemetry-path must be a path such as /metrics "
                                         "(not /, /-/... or with a query)"));
    }
    options.webConfig = parser.value(webConfig);
    options.lifecycle = parser.isSet(lifecycle);

    if (parser.isSet(probe)) {
        if (parser.isSet(config) || parser.isSet(listen) || parser.isSet(check) ||
            parser.isSet(namesProjector) || parser.isSet(telemetryPath) ||
            parser.isSet(webConfig) || parser.isSet(lifecycle))
            return refuse(QStringLiteral("--probe polls one device: leave out --config, "
                                         "--check-config, --names-projector and the --web "
                                         "options"));
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
        "Usage: qx200d --config FILE [--web.listen-address ADDR:PORT]...\n"
        "              [--web.telemetry-path PATH] [--web.config.file FILE]\n"
        "              [--web.enable-lifecycle] [--control-socket PATH] [--no-record]\n"
        "       qx200d --config FILE --check-config | --names-projector\n"
        "       qx200d --probe DEVICE [--speed 19200|9600] [--json]\n"
        "\n"
        "Polls the projectors listed in FILE over their serial lines and serves their state\n"
        "for Prometheus at http://ADDR:PORT/metrics, a status page at /, /-/healthy and\n"
        "/-/ready. SIGHUP re-reads FILE.\n"
        "\n"
        "  --config FILE       YAML list of projectors (name, device, speed, interval)\n"
        "  --web.listen-address ADDR:PORT\n"
        "                      where to serve (default 127.0.0.1:9733; :PORT for all\n"
        "                      addresses); may be given more than once. --listen is the same\n"
        "  --web.telemetry-path PATH\n"
        "                      where the metrics are (default /metrics)\n"
        "  --web.config.file FILE\n"
        "                      TLS certificate and key (tls_server_config: cert_file,\n"
        "                      key_file) and users with bcrypt hashes (basic_auth_users)\n"
        "  --web.enable-lifecycle\n"
        "                      take POST /-/reload to re-read FILE\n"
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
