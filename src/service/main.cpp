// qx200d, the projector service: owns the projectors' serial lines, polls them and serves their
// state to Prometheus.

#include "serial/BoundedFile.h"
#include "serial/QuitSignals.h"
#include "serial/ServicePaths.h"
#include "service/ConsoleServer.h"
#include "service/ControlProtocol.h"
#include "service/ControlServer.h"
#include "service/Fleet.h"
#include "service/LineRecorder.h"
#include "service/ReadingNames.h"
#include "service/ServiceOptions.h"
#include "service/WebConfig.h"
#include "service/WebService.h"
#include "service/pjlink/PjlinkServers.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <map>
#include <sys/resource.h>

namespace {

using namespace qx200;

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString& text)
{
    print(stderr, QStringLiteral("qx200d: %1\n").arg(text));
    return 1;
}

QString probeText(const Poller& poller, const Line& line)
{
    QString text = QStringLiteral("device: %1\nanswered: %2\n")
                       .arg(poller.config().device, poller.up() ? "yes" : "no");
    if (!poller.fault().isEmpty())
        text += QStringLiteral("fault: %1\n").arg(poller.fault());
    if (!line.note().isEmpty())
        text += QStringLiteral("note: %1\n").arg(line.note());
    const QJsonObject readings = readingsJson(poller.readings());
    for (auto it = readings.begin(); it != readings.end(); ++it) {
        const QString value =
            it->isObject() || it->isArray()
                ? QString::fromUtf8(
                      QJsonDocument::fromVariant(it->toVariant()).toJson(QJsonDocument::Compact))
                : it->toVariant().toString();
        text += QStringLiteral("%1: %2\n").arg(it.key(), value);
    }
    return text;
}

QString probeJson(const Poller& poller, const Line& line)
{
    QJsonObject json{{"device", poller.config().device},
                     {"answered", poller.up()},
                     {"readings", readingsJson(poller.readings())}};
    if (!poller.fault().isEmpty())
        json["fault"] = poller.fault();
    if (!line.note().isEmpty())
        json["note"] = line.note();
    return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented));
}

int probe(const ServiceOptions& options)
{
    ProjectorConfig projector;
    projector.name = QStringLiteral("probe");
    projector.device = options.probeDevice;
    projector.speed = options.speed;
    Line line(projector);
    Poller poller(line);
    QObject::connect(&poller, &Poller::roundEnded, &QCoreApplication::quit);
    QMetaObject::invokeMethod(
        &poller,
        [&] {
            line.open();
            poller.start();
        },
        Qt::QueuedConnection);
    QCoreApplication::exec();
    print(stdout, options.json ? probeJson(poller, line) : probeText(poller, line));
    return poller.up() ? 0 : 1;
}

// The service's start condition: a missing file, or one whose projectors are all commented out,
// means "not configured yet" (1); anything else, a file that cannot be read as a configuration
// too, goes on to the full check, which says what is wrong.
int namesProjector(const QString& path)
{
    const FileRead file = readRegularFile(QFile::encodeName(path).toStdString(), MaxConfigBytes);
    if (QFile::exists(path) && (!file.error.empty() || qx200::namesProjector(file.bytes)))
        return 0;
    print(stderr, QStringLiteral("qx200d: %1 names no projector yet: the service starts once "
                                 "one is named\n")
                      .arg(path));
    return 1;
}

// Raises the soft limit of open descriptors to the hard one, as Go programs do: every line,
// console and HTTP connection takes one, and the usual 1024 is soon reached.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

QString reloadText(const ReloadSummary& summary)
{
    QStringList parts;
    if (!summary.added.isEmpty())
        parts << QStringLiteral("added %1").arg(summary.added.join(QStringLiteral(", ")));
    if (!summary.removed.isEmpty())
        parts << QStringLiteral("removed %1").arg(summary.removed.join(QStringLiteral(", ")));
    if (!summary.reopened.isEmpty())
        parts << QStringLiteral("reopened %1").arg(summary.reopened.join(QStringLiteral(", ")));
    parts << QStringLiteral("%1 unchanged").arg(summary.kept);
    return parts.join(QStringLiteral("; "));
}

// Re-reads the configuration file into the fleet; empty when taken, otherwise why not (the
// running configuration then stays).
QString reloadFleet(Fleet& fleet, const QString& path)
{
    const ConfigResult config = loadFleetConfig(path);
    if (!config.config) {
        print(stderr, QStringLiteral("qx200d: reload refused, the running configuration stays: "
                                     "%1\n")
                          .arg(config.error));
        return config.error;
    }
    const ReloadSummary summary = fleet.reload(*config.config);
    print(stderr, QStringLiteral("qx200d: configuration reloaded: %1\n").arg(reloadText(summary)));
    return {};
}

int serve(const ServiceOptions& options, const FleetConfig& config, QuitSignals& quitSignals)
{
    WebConfig webConfig;
    if (!options.webConfig.isEmpty()) {
        WebConfigResult loaded = loadWebConfig(options.webConfig);
        if (!loaded.config)
            return fail(loaded.error);
        webConfig = std::move(*loaded.config);
    }
    Fleet fleet(config);
    ControlServer control(fleet, options.controlSocket.isEmpty()
                                     ? serviceRuntimeDirectory() + u'/' + ControlSocketName
                                     : options.controlSocket);
    if (const QString error = control.listen(); !error.isEmpty())
        return fail(error);

    std::function<QString()> reload;
    WebService web(fleet, {options.telemetryPath, options.lifecycle}, [&] { return reload(); });
    reload = [&] {
        const QString why = reloadFleet(fleet, options.config);
        web.noteReload(why.isEmpty());
        return why;
    };
    quitSignals.listen([] { QCoreApplication::quit(); }, [&] { reload(); });
    BasicAuth auth(webConfig.users);
    if (!webConfig.users.empty())
        web.requireAuth(&auth);
    HttpResponder responder([&web](const HttpRequest& request) { return web.respond(request); });
    if (webConfig.tls)
        responder.useTls(*webConfig.tls);
    const QString scheme = webConfig.tls ? QStringLiteral("https") : QStringLiteral("http");
    for (const ListenAddress& at : options.listen) {
        QAbstractSocket::SocketError error{};
        QString why;
        if (!responder.listen(at.address, at.port, &error, &why))
            return fail(listenFailureText(at, error, why));
        const ListenAddress bound{at.address, at.port ? at.port : responder.port()};
        print(stderr,
              QStringLiteral("qx200d: polling %1 projectors, serving %2://%3%4\n")
                  .arg(config.projectors.size())
                  .arg(scheme, listenAddressText(bound), QString::fromUtf8(options.telemetryPath)));
    }
    Consoles consoles(fleet);
    if (const QString error = consoles.start(); !error.isEmpty())
        return fail(error);
    PjlinkServers pjlink(fleet);
    if (const QString error = pjlink.start(); !error.isEmpty())
        return fail(error);
    // Who did what: every line's traffic recorded with its senders, controllers' commands logged.
    const QString records = options.record ? serviceRecordsFolder() : QString();
    std::map<const Projector*, std::unique_ptr<LineRecorder>> recorders;
    const auto follow = [&](Projector& projector) {
        logCommands(projector.line());
        if (!records.isEmpty())
            recorders[&projector] = std::make_unique<LineRecorder>(projector.line(), records);
    };
    for (const auto& projector : fleet.projectors())
        follow(*projector);
    QObject::connect(&fleet, &Fleet::added, &fleet, follow);
    QObject::connect(&fleet, &Fleet::removing, &fleet,
                     [&](Projector& projector) { recorders.erase(&projector); });
    if (!records.isEmpty())
        print(stderr, QStringLiteral("qx200d: recording the lines in %1\n").arg(records));
    else if (options.record)
        print(stderr, QStringLiteral("qx200d: no home folder to keep records in (set "
                                     "STATE_DIRECTORY or XDG_STATE_HOME): the lines are not "
                                     "recorded\n"));
    fleet.start();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QuitSignals quitSignals; // before the application object starts any thread
    raiseDescriptorLimit();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx200d"));
    const ParsedServiceOptions parsed = parseServiceOptions(app.arguments().mid(1));
    if (!parsed.options) {
        print(stderr, QStringLiteral("qx200d: %1\n%2").arg(parsed.error, serviceUsage()));
        return 2;
    }
    const ServiceOptions& options = *parsed.options;
    switch (options.mode) {
    case ServiceOptions::Mode::Help:
        print(stdout, serviceUsage());
        return 0;
    case ServiceOptions::Mode::Version:
        print(stdout, QStringLiteral("qx200d %1\n").arg(QX200_VERSION));
        return 0;
    case ServiceOptions::Mode::Probe:
        quitSignals.listen([] { QCoreApplication::quit(); });
        return probe(options);
    case ServiceOptions::Mode::NamesProjector:
        return namesProjector(options.config);
    case ServiceOptions::Mode::CheckConfig:
    case ServiceOptions::Mode::Serve:
        break;
    }
    const ConfigResult config = loadFleetConfig(options.config);
    if (!config.config)
        return fail(config.error);
    const PjlinkCheck pjlink = checkPjlink(*config.config);
    for (const QString& warning : pjlink.warnings)
        print(stderr, QStringLiteral("qx200d: warning: %1\n").arg(warning));
    if (!pjlink.errors.isEmpty())
        return fail(pjlink.errors.join(QStringLiteral("\nqx200d: ")));
    if (options.mode == ServiceOptions::Mode::CheckConfig) {
        if (!options.webConfig.isEmpty()) {
            if (const WebConfigResult web = loadWebConfig(options.webConfig); !web.config)
                return fail(web.error);
        }
        print(stdout, QStringLiteral("%1: %2 projectors, good\n")
                          .arg(options.config)
                          .arg(config.config->projectors.size()));
        return 0;
    }
    return serve(options, *config.config, quitSignals);
}
