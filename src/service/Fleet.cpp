#include "service/Fleet.h"

#include "service/ReadingNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <cstdio>

namespace qx200 {

namespace {

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}

QString jsonText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toVariant().toString();
}

QString powerText(const std::optional<PowerState>& power)
{
    return power ? QString::fromLatin1(powerStateName(*power)) : QStringLiteral("unknown");
}

// The listener's address and the controllers connected to it.
QString pjlinkText(const ProjectorSnapshot& projector)
{
    if (!projector.pjlink)
        return QStringLiteral("-");
    QString text = escaped(socketAddressText(*projector.pjlink));
    for (const QString& controller : projector.pjlinkControllers)
        text += QStringLiteral("<br>") + escaped(controller);
    return text;
}

QString projectorRow(const ProjectorSnapshot& projector)
{
    QString readings;
    const QJsonObject json = readingsJson(projector.readings);
    for (auto it = json.begin(); it != json.end(); ++it)
        readings += QStringLiteral("%1: %2<br>").arg(escaped(it.key()), escaped(jsonText(*it)));
    const QString lastReply =
        projector.lastReply ? projector.lastReply->toString(Qt::ISODate) : QStringLiteral("never");
    const QString held = projector.operatorPeer.isEmpty()
                             ? QStringLiteral("-")
                             : QStringLiteral("operator ") + escaped(projector.operatorPeer);
    return QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td><td>%6</td>"
                          "<td>%7</td><td>%8%9</td></tr>\n")
        .arg(escaped(projector.name), escaped(projector.device),
             projector.up ? QStringLiteral("up") : QStringLiteral("<b>down</b>"),
             powerText(projector.power), held, pjlinkText(projector), lastReply,
             projector.fault.isEmpty() ? QString() : escaped(projector.fault) + "<br>", readings);
}

// Tells the log (the journal, under systemd) when a projector stops or starts answering.
void logChanges(const Projector& projector)
{
    const Poller& poller = projector.poller();
    QObject::connect(&poller, &Poller::upChanged, [&poller](bool up) {
        const QString fault = poller.fault().isEmpty() ? QString() : ": " + poller.fault();
        const QString text =
            up ? QStringLiteral("%1 answers\n").arg(poller.config().name)
               : QStringLiteral("%1 does not answer%2\n").arg(poller.config().name, fault);
        std::fputs(text.toLocal8Bit().constData(), stderr);
    });
    QObject::connect(&projector.line(), &Line::told, [](const QString& text) {
        std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
    });
}

} // namespace

Projector::Projector(const ProjectorConfig& config, LineTiming lineTiming, PollTiming pollTiming)
    : line_(config, lineTiming), poller_(line_, pollTiming)
{
}

ProjectorSnapshot Projector::snapshot() const
{
    ProjectorSnapshot s;
    s.name = config().name;
    s.device = config().device;
    s.up = poller_.up();
    s.readings = poller_.readings();
    s.lastReply = poller_.lastReply();
    s.fault = !line_.fault().isEmpty() ? line_.fault() : poller_.fault();
    s.power = line_.power();
    s.operatorPeer = line_.operatorPeer();
    s.console = config().console;
    if (poller_.roundsDone() > 0)
        s.lastRoundTime = poller_.lastRoundTime();
    s.unsolicitedBytes = line_.unsolicitedBytes();
    if (pjlink_) {
        s.pjlink = config().pjlink->listen;
        s.pjlinkControllers = pjlink_->controllers();
    }
    return s;
}

Fleet::Fleet(const FleetConfig& config, LineTiming lineTiming, PollTiming pollTiming)
{
    lineTiming.operatorQuiet = config.operatorQuiet;
    for (const ProjectorConfig& projectorConfig : config.projectors) {
        auto projector = std::make_unique<Projector>(projectorConfig, lineTiming, pollTiming);
        metrics_.watch(projector->poller());
        logChanges(*projector);
        const auto changed = [this, name = projectorConfig.name] { emit this->changed(name); };
        Line& line = projector->line();
        connect(&projector->poller(), &Poller::roundEnded, this, changed);
        connect(&line, &Line::operatorChanged, this, changed);
        connect(&line, &Line::powerChanged, this, changed);
        connect(&line, &Line::lost, this, changed);
        connect(&line, &Line::back, this, changed);
        projectors_.push_back(std::move(projector));
    }
}

Fleet::~Fleet() = default;

void Fleet::start()
{
    for (const auto& projector : projectors_) {
        projector->line().open();
        projector->poller().start();
    }
}

Projector* Fleet::find(const QString& name) const
{
    for (const auto& projector : projectors_)
        if (projector->config().name == name)
            return projector.get();
    return nullptr;
}

void Fleet::attach(const QString& name, const PjlinkServer& server)
{
    Projector* projector = find(name);
    if (!projector)
        return;
    projector->pjlink_ = &server;
    metrics_.watch(name, server);
    connect(&server, &PjlinkServer::controllersChanged, this, [this, name] { emit changed(name); });
}

std::vector<ProjectorSnapshot> Fleet::snapshots() const
{
    std::vector<ProjectorSnapshot> all;
    all.reserve(projectors_.size());
    for (const auto& projector : projectors_)
        all.push_back(projector->snapshot());
    return all;
}

HttpResponse Fleet::respond(const QByteArray& path) const
{
    if (path == "/metrics")
        return {200, "text/plain; version=0.0.4; charset=utf-8",
                QByteArray::fromStdString(metrics_.exposition(snapshots()))};
    if (path == "/")
        return {200, "text/html; charset=utf-8", statusPage(snapshots())};
    return {404, "text/plain; charset=utf-8", "not found: try / or /metrics\n"};
}

QByteArray statusPage(const std::vector<ProjectorSnapshot>& snapshots)
{
    QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>qx200d</title>"
        "</head>\n<body><h1>qx200d</h1>\n<p><a href=\"/metrics\">Metrics</a></p>\n"
        "<table border=\"1\">\n<tr><th>Projector</th><th>Device</th><th>State</th><th>Power</th>"
        "<th>Held by</th><th>PJLink, controllers</th><th>Last reply "
        "(UTC)</th><th>Readings</th></tr>\n");
    for (const ProjectorSnapshot& projector : snapshots)
        page += projectorRow(projector);
    page += QStringLiteral("</table>\n</body></html>\n");
    return page.toUtf8();
}

} // namespace qx200
