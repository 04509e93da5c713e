#include "service/ctl/CtlOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <vector>

namespace qx200 {

namespace {

QString failed(const QString& reason)
{
    return QStringLiteral("qx200ctl: %1\n").arg(reason);
}

// A value of the readings as one line: the names of the flags that are set ("none" when none),
// a list's items, a number or text as it is.
QString valueText(const QJsonValue& value)
{
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (std::all_of(object.begin(), object.end(),
                        [](const QJsonValue& v) { return v.isBool(); })) {
            QStringList set;
            for (auto it = object.begin(); it != object.end(); ++it)
                if (it->toBool())
                    set << it.key();
            return set.isEmpty() ? QStringLiteral("none") : set.join(QStringLiteral(", "));
        }
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    }
    if (value.isArray()) {
        QStringList items;
        for (const QJsonValue& item : value.toArray())
            items << valueText(item);
        return items.join(QStringLiteral(", "));
    }
    if (value.isBool())
        return value.toBool() ? QStringLiteral("yes") : QStringLiteral("no");
    return value.toVariant().toString();
}

QString lineHolder(const QJsonObject& projector)
{
    const QString peer = projector[QStringLiteral("operator")].toString();
    return peer.isEmpty() ? QStringLiteral("free") : QStringLiteral("held by %1").arg(peer);
}

QString powerText(const QJsonObject& projector)
{
    return projector[QStringLiteral("power")].toString(QStringLiteral("unknown"));
}

QString stateText(const QJsonObject& projector)
{
    return projector[QStringLiteral("up")].toBool() ? QStringLiteral("up") : QStringLiteral("down");
}

// The network controller listener and who is connected to it: "0.0.0.0:4352: 10.0.0.5:40312".
QString pjlinkText(const QJsonObject& projector)
{
    const QJsonObject pjlink = projector[QStringLiteral("pjlink")].toObject();
    if (pjlink.isEmpty())
        return QStringLiteral("-");
    const QString controllers = valueText(pjlink[QStringLiteral("controllers")]);
    const QString listen = pjlink[QStringLiteral("listen")].toString();
    return controllers.isEmpty() ? listen : listen + QStringLiteral(": ") + controllers;
}

QString listTable(const QJsonArray& projectors)
{
    const bool pjlink = std::any_of(projectors.begin(), projectors.end(), [](const QJsonValue& p) {
        return p.toObject().contains(QStringLiteral("pjlink"));
    });
    std::vector<QStringList> rows{{"NAME", "STATE", "POWER", "LINE"}};
    if (pjlink)
        rows.front() << QStringLiteral("PJLINK");
    for (const QJsonValue& item : projectors) {
        const QJsonObject p = item.toObject();
        rows.push_back(
            {p[QStringLiteral("name")].toString(), stateText(p), powerText(p), lineHolder(p)});
        if (pjlink)
            rows.back() << pjlinkText(p);
    }
    std::vector<qsizetype> widths(rows.front().size(), 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < row.size(); ++i)
            widths[std::size_t(i)] = std::max(widths[std::size_t(i)], row[i].size());
    QString table;
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i].leftJustified(widths[std::size_t(i)] + 2) : row[i];
        table += line + u'\n';
    }
    return table;
}

QString statusLines(const QJsonObject& p)
{
    QString text =
        QStringLiteral("name: %1\ndevice: %2\nstate: %3\npower: %4\nline: %5\n")
            .arg(p[QStringLiteral("name")].toString(), p[QStringLiteral("device")].toString(),
                 stateText(p), powerText(p), lineHolder(p));
    if (p.contains(QStringLiteral("fault")))
        text += QStringLiteral("fault: %1\n").arg(p[QStringLiteral("fault")].toString());
    const QJsonValue age = p[QStringLiteral("age_seconds")];
    text += age.isDouble() ? QStringLiteral("age: %1s\n").arg(age.toInteger())
                           : QStringLiteral("age: never read\n");
    const QJsonObject readings = p[QStringLiteral("readings")].toObject();
    for (auto it = readings.begin(); it != readings.end(); ++it)
        if (it.key() != QLatin1String("power")) // the line's power, above, is the later one
            text += QStringLiteral("%1: %2\n").arg(it.key(), valueText(*it));
    return text;
}

} // namespace

CtlOutput formatAnswer(const ControlRequest& request, const QJsonObject& answer, bool json)
{
    CtlOutput output;
    const bool ok = answer[QStringLiteral("ok")].toBool();
    output.exitCode = ok ? 0 : 1;
    const QJsonArray results = answer[QStringLiteral("results")].toArray();
    if (json) {
        output.out = QString::fromUtf8(QJsonDocument(answer).toJson(QJsonDocument::Indented));
        if (!ok)
            output.err = failed(answer[QStringLiteral("error")].toString());
        return output;
    }
    if (!ok && results.isEmpty()) {
        output.err = failed(answer[QStringLiteral("error")].toString());
        return output;
    }
    switch (request.command) {
    case ControlCommand::List:
        output.out = listTable(answer[QStringLiteral("projectors")].toArray());
        break;
    case ControlCommand::Status:
        output.out = statusLines(answer[QStringLiteral("projector")].toObject());
        break;
    case ControlCommand::Send:
        output.out = answer[QStringLiteral("reply")].toString() + u'\n';
        break;
    case ControlCommand::Power:
    case ControlCommand::Input:
    case ControlCommand::Mute:
        for (const QJsonValue& item : results) {
            const QJsonObject result = item.toObject();
            if (result[QStringLiteral("ok")].toBool())
                output.out += result[QStringLiteral("projector")].toString() + ": done\n";
            else
                output.err += failed(result[QStringLiteral("error")].toString());
        }
        break;
    }
    return output;
}

} // namespace qx200
