#include "service/Fleet.h"

#include "service/ReadingNames.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
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
    : lineTiming_(lineTiming), pollTiming_(pollTiming)
{
    lineTiming_.operatorQuiet = config.operatorQuiet;
    for (const ProjectorConfig& projectorConfig : config.projectors)
        add(projectorConfig);
}

Projector& Fleet::add(const ProjectorConfig& config)
{
    auto projector = std::make_unique<Projector>(config, lineTiming_, pollTiming_);
    metrics_.watch(projector->poller());
    logChanges(*projector);
    const auto changed = [this, name = config.name] { emit this->changed(name); };
    Line& line = projector->line();
    connect(&projector->poller(), &Poller::roundEnded, this, changed);
    connect(&line, &Line::operatorChanged, this, changed);
    connect(&line, &Line::powerChanged, this, changed);
    connect(&line, &Line::lost, this, changed);
    connect(&line, &Line::back, this, changed);
    projectors_.push_back(std::move(projector));
    return *projectors_.back();
}

void Fleet::remove(std::size_t index)
{
    Projector& projector = *projectors_[index];
    emit removing(projector);
    const QString name = projector.config().name;
    metrics_.forget(projector.poller());
    projectors_.erase(projectors_.begin() + std::ptrdiff_t(index));
    emit changed(name);
}

ReloadSummary Fleet::reload(const FleetConfig& config)
{
    ReloadSummary summary;
    // A new quiet time changes every line's timing: all are made anew.
    const bool retimed = config.operatorQuiet != lineTiming_.operatorQuiet;
    lineTiming_.operatorQuiet = config.operatorQuiet;
    std::vector<const ProjectorConfig*> toAdd;
    for (const ProjectorConfig& wanted : config.projectors) {
        Projector* running = find(wanted.name);
        if (running && running->config() == wanted && !retimed) {
            ++summary.kept;
            continue;
        }
        (running ? summary.reopened : summary.added).append(wanted.name);
        toAdd.push_back(&wanted);
    }
    // Gone or changed ones first, so that their devices and addresses are free again.
    for (std::size_t i = projectors_.size(); i-- > 0;) {
        const QString& name = projectors_[i]->config().name;
        const bool listed = std::any_of(config.projectors.begin(), config.projectors.end(),
                                        [&](const ProjectorConfig& p) { return p.name == name; });
        if (!listed)
            summary.removed.prepend(name);
        if (!listed || summary.reopened.contains(name))
            remove(i);
    }
    for (const ProjectorConfig* wanted : toAdd) {
        Projector& projector = add(*wanted);
        if (started_) {
            projector.line().open();
            projector.poller().start();
        }
        emit added(projector);
        emit changed(wanted->name);
    }
    return summary;
}

bool Fleet::ready() const
{
    return std::all_of(projectors_.begin(), projectors_.end(),
                       [](const auto& projector) { return projector->poller().roundsDone() > 0; });
}

Fleet::~Fleet() = default;

void Fleet::start()
{
    started_ = true;
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

QByteArray statusPage(const std::vector<ProjectorSnapshot>& snapshots,
                      const QByteArray& metricsPath)
{
    QString page =
        QStringLiteral(
            "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>qx200d</title>"
            "</head>\n<body><h1>qx200d</h1>\n<p><a href=\"%1\">Metrics</a></p>\n"
            "<table "
            "border=\"1\">\n<tr><th>Projector</th><th>Device</th><th>State</th><th>Power</th>"
            "<th>Held by</th><th>PJLink, controllers</th><th>Last reply "
            "(UTC)</th><th>Readings</th></tr>\n")
            .arg(escaped(QString::fromUtf8(metricsPath)));
    for (const ProjectorSnapshot& projector : snapshots)
        page += projectorRow(projector);
    page += QStringLiteral("</table>\n</body></html>\n");
    return page.toUtf8();
}

} // namespace qx200
