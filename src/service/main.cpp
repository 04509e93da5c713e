// qx200-exporter: polls projectors over their serial lines and serves their state to Prometheus.

#include "service/ExporterOptions.h"
#include "service/Fleet.h"
#include "service/ReadingNames.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace qx200;

void print(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

int fail(const QString& text)
{
    print(stderr, QStringLiteral("qx200-exporter: %1\n").arg(text));
    return 1;
}

// SIGTERM and SIGINT end the event loop, so that devices and their locks are released.
int signalPipe[2] = {-1, -1};

void quitOnSignals(QCoreApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char signal = 0;
        [[maybe_unused]] const auto n = ::read(signalPipe[1], &signal, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = [](int) {
        const char signal = 1;
        [[maybe_unused]] const auto n = ::write(signalPipe[0], &signal, 1);
    };
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

QString probeText(const Poller& poller)
{
    QString text = QStringLiteral("device: %1\nanswered: %2\n")
                       .arg(poller.config().device, poller.up() ? "yes" : "no");
    if (!poller.fault().isEmpty())
        text += QStringLiteral("fault: %1\n").arg(poller.fault());
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

QString probeJson(const Poller& poller)
{
    QJsonObject json{{"device", poller.config().device},
                     {"answered", poller.up()},
                     {"readings", readingsJson(poller.readings())}};
    if (!poller.fault().isEmpty())
        json["fault"] = poller.fault();
    return QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Indented));
}

int probe(const ExporterOptions& options)
{
    const ProjectorConfig projector{QStringLiteral("probe"), options.probeDevice, options.speed,
                                    DefaultPollInterval};
    Poller poller(projector, serialServiceFor(options.probeDevice));
    poller.onRoundEnd = [] { QCoreApplication::quit(); };
    QMetaObject::invokeMethod(
        &poller, [&poller] { poller.start(); }, Qt::QueuedConnection);
    QCoreApplication::exec();
    print(stdout, options.json ? probeJson(poller) : probeText(poller));
    return poller.up() ? 0 : 1;
}

int serve(const ExporterOptions& options, const FleetConfig& config)
{
    Fleet fleet(config);
    HttpResponder responder([&fleet](const QByteArray& path) { return fleet.respond(path); });
    const ListenAddress& at = options.listen;
    if (!responder.listen(at.address, at.port))
        return fail(QStringLiteral("cannot listen on %1:%2: %3 (is another exporter running?)")
                        .arg(at.address.toString())
                        .arg(at.port)
                        .arg(responder.errorString()));
    print(stderr, QStringLiteral("qx200-exporter: polling %1 projectors, serving "
                                 "http://%2:%3/metrics\n")
                      .arg(config.projectors.size())
                      .arg(at.address.toString())
                      .arg(responder.port()));
    fleet.start();
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qx200-exporter"));
    const ParsedExporterOptions parsed = parseExporterOptions(app.arguments().mid(1));
    if (!parsed.options) {
        print(stderr, QStringLiteral("qx200-exporter: %1\n%2").arg(parsed.error, exporterUsage()));
        return 2;
    }
    const ExporterOptions& options = *parsed.options;
    switch (options.mode) {
    case ExporterOptions::Mode::Help:
        print(stdout, exporterUsage());
        return 0;
    case ExporterOptions::Mode::Version:
        print(stdout, QStringLiteral("qx200-exporter %1\n").arg(QX200_VERSION));
        return 0;
    case ExporterOptions::Mode::Probe:
        quitOnSignals(app);
        return probe(options);
    case ExporterOptions::Mode::CheckConfig:
    case ExporterOptions::Mode::Serve:
        break;
    }
    const ConfigResult config = loadFleetConfig(options.config);
    if (!config.config)
        return fail(config.error);
    if (options.mode == ExporterOptions::Mode::CheckConfig) {
        print(stdout, QStringLiteral("%1: %2 projectors, good\n")
                          .arg(options.config)
                          .arg(config.config->projectors.size()));
        return 0;
    }
    quitOnSignals(app);
    return serve(options, *config.config);
}
