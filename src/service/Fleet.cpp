#include "service/Fleet.h"

#include "serial/QtSerialPort.h"
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

QString projectorRow(const Poller& poller)
{
    QString readings;
    const QJsonObject json = readingsJson(poller.readings());
    for (auto it = json.begin(); it != json.end(); ++it)
        readings += QStringLiteral("%1: %2<br>").arg(escaped(it.key()), escaped(jsonText(*it)));
    const QString lastReply =
        poller.lastReply() ? poller.lastReply()->toString(Qt::ISODate) : QStringLiteral("never");
    return QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5%6</td></tr>\n")
        .arg(escaped(poller.config().name), escaped(poller.config().device),
             poller.up() ? QStringLiteral("up") : QStringLiteral("<b>down</b>"), lastReply,
             poller.fault().isEmpty() ? QString() : escaped(poller.fault()) + "<br>", readings);
}

// Tells the log (the journal, under systemd) when a projector stops or starts answering.
void logChanges(Poller& poller)
{
    poller.onUpChange = [&poller](bool up) {
        const QString fault = poller.fault().isEmpty() ? QString() : ": " + poller.fault();
        const QString text =
            up ? QStringLiteral("%1 answers\n").arg(poller.config().name)
               : QStringLiteral("%1 does not answer%2\n").arg(poller.config().name, fault);
        std::fputs(text.toLocal8Bit().constData(), stderr);
    };
}

} // namespace

std::unique_ptr<SerialPort> serialServiceFor(const QString& device)
{
    return std::make_unique<QtSerialPort>([device](std::int16_t) { return device; });
}

Fleet::Fleet(const FleetConfig& config, PollTiming timing)
{
    for (const ProjectorConfig& projector : config.projectors) {
        pollers_.push_back(
            std::make_unique<Poller>(projector, serialServiceFor(projector.device), timing));
        metrics_.watch(*pollers_.back());
        logChanges(*pollers_.back());
    }
}

void Fleet::start()
{
    for (const auto& poller : pollers_)
        poller->start();
}

HttpResponse Fleet::respond(const QByteArray& path) const
{
    if (path == "/metrics")
        return {200, "text/plain; version=0.0.4; charset=utf-8",
                QByteArray::fromStdString(metrics_.exposition())};
    if (path == "/")
        return {200, "text/html; charset=utf-8", statusPage(pollers_)};
    return {404, "text/plain; charset=utf-8", "not found: try / or /metrics\n"};
}

QByteArray statusPage(const std::vector<std::unique_ptr<Poller>>& pollers)
{
    QString page = QStringLiteral(
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>qx200 exporter</title>"
        "</head>\n<body><h1>qx200 exporter</h1>\n<p><a href=\"/metrics\">Metrics</a></p>\n"
        "<table border=\"1\">\n<tr><th>Projector</th><th>Device</th><th>State</th>"
        "<th>Last reply (UTC)</th><th>Readings</th></tr>\n");
    for (const auto& poller : pollers)
        page += projectorRow(*poller);
    page += QStringLiteral("</table>\n</body></html>\n");
    return page.toUtf8();
}

} // namespace qx200
