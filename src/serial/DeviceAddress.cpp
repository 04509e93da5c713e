#include "serial/DeviceAddress.h"

#include <QStringView>
#include <array>

namespace qx200 {
namespace {

struct Scheme {
    QStringView prefix;
    DeviceAddress::Kind kind;
};
constexpr std::array Schemes{
    Scheme{u"tcp:", DeviceAddress::Kind::Tcp},
    Scheme{u"rfc2217:", DeviceAddress::Kind::Rfc2217},
};

std::optional<DeviceAddress> refuse(const QString& text, const QString& reason, QString* error)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(text, reason);
    return std::nullopt;
}

} // namespace

QString DeviceAddress::toString() const
{
    if (kind == Kind::Path)
        return path;
    const QString shownHost = host.contains(u':') ? u'[' + host + u']' : host;
    const QStringView prefix = kind == Kind::Tcp ? Schemes[0].prefix : Schemes[1].prefix;
    return prefix.toString() + shownHost + u':' + QString::number(port);
}

std::optional<DeviceAddress> parseDeviceAddress(const QString& text, QString* error)
{
    if (text.isEmpty())
        return refuse(text, QStringLiteral("no device given"), error);
    for (const Scheme& scheme : Schemes) {
        if (!text.startsWith(scheme.prefix))
            continue;
        const QStringView rest = QStringView(text).mid(scheme.prefix.size());
        const qsizetype colon = rest.lastIndexOf(u':');
        if (colon < 0)
            return refuse(text, QStringLiteral("expected HOST:PORT"), error);
        QStringView host = rest.left(colon);
        if (host.startsWith(u'[') && host.endsWith(u']'))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(u':'))
            return refuse(text, QStringLiteral("an IPv6 address is written in brackets"), error);
        if (host.isEmpty())
            return refuse(text, QStringLiteral("no host given"), error);
        bool numeric = false;
        const uint port = rest.mid(colon + 1).toUInt(&numeric);
        if (!numeric || port < 1 || port > 65535)
            return refuse(text, QStringLiteral("the port must be a number from 1 to 65535"), error);
        return DeviceAddress{scheme.kind, {}, host.toString(), quint16(port)};
    }
    // "udp:..." and the like: a word and a colon before any slash is a kind this console lacks.
    const qsizetype colon = text.indexOf(u':');
    const qsizetype slash = text.indexOf(u'/');
    if (colon > 0 && (slash < 0 || colon < slash))
        return refuse(text,
                      QStringLiteral("unknown device kind \"%1\" (use a path, tcp: or rfc2217:)")
                          .arg(text.left(colon)),
                      error);
    return DeviceAddress{DeviceAddress::Kind::Path, text, {}, 0};
}

} // namespace qx200
