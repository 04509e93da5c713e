#include "service/pjlink/PjlinkServers.h"

#include "service/Fleet.h"
#include "service/pjlink/PjlinkProtocol.h"
#include "service/pjlink/PjlinkSearch.h"
#include "service/pjlink/PjlinkServer.h"

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <map>
#include <sys/stat.h>

namespace qx200 {

namespace {

constexpr qsizetype MaxPasswordBytes = 32;

void logLine(const QString& text)
{
    std::fputs((text + QLatin1Char('\n')).toLocal8Bit().constData(), stderr);
}

} // namespace

std::optional<QByteArray> readPjlinkPassword(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(file.handle(), &status) != 0 || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        *error = QStringLiteral("the password file %1 is open to others than its owner (mode %2); "
                                "chmod 600 it")
                     .arg(path)
                     .arg(status.st_mode & 07777, 4, 8, QLatin1Char('0'));
        return std::nullopt;
    }
    QByteArray password = file.readLine(1024);
    while (password.endsWith('\n') || password.endsWith('\r'))
        password.chop(1);
    const bool printable =
        std::all_of(password.begin(), password.end(), [](char c) { return c >= 32 && c < 127; });
    if (password.isEmpty() || password.size() > MaxPasswordBytes || !printable) {
        *error = QStringLiteral("the password file %1 must hold one password of 1 to %2 printable "
                                "ASCII characters on its first line")
                     .arg(path)
                     .arg(MaxPasswordBytes);
        return std::nullopt;
    }
    return password;
}

PjlinkCheck checkPjlink(const FleetConfig& config)
{
    PjlinkCheck check;
    for (const ProjectorConfig& projector : config.projectors) {
        if (!projector.pjlink)
            continue;
        const QString where = QStringLiteral("%1: pjlink on %2")
                                  .arg(projector.name, socketAddressText(projector.pjlink->listen));
        QString why;
        if (projector.pjlink->passwordFile.isEmpty())
            check.warnings << where + QStringLiteral(" has no password_file: any controller that "
                                                     "reaches it needs no password");
        else if (!readPjlinkPassword(projector.pjlink->passwordFile, &why))
            check.errors << QStringLiteral("%1: %2").arg(projector.name, why);
    }
    return check;
}

PjlinkServers::PjlinkServers(Fleet& fleet) : fleet_(fleet) {}

PjlinkServers::~PjlinkServers()
{
    for (const QMetaObject::Connection& connection : reloads_)
        QObject::disconnect(connection);
}

QString PjlinkServers::serve(Projector& projector)
{
    const ProjectorConfig& config = projector.config();
    if (!config.pjlink)
        return {};
    QByteArray password;
    if (!config.pjlink->passwordFile.isEmpty()) {
        QString why;
        const auto read = readPjlinkPassword(config.pjlink->passwordFile, &why);
        if (!read)
            return QStringLiteral("%1: %2").arg(config.name, why);
        password = *read;
    }
    auto server = std::make_unique<PjlinkServer>(projector.line(), password);
    if (const QString why = server->listen(config.pjlink->listen); !why.isEmpty())
        return QStringLiteral("%1: cannot listen on the pjlink address %2: %3")
            .arg(config.name, socketAddressText(config.pjlink->listen), why);
    server->watch(projector.poller());
    fleet_.attach(config.name, *server);
    servers_.emplace_back(config.name, std::move(server));
    return {};
}

// One search socket per listening address, answering for every projector on it.
void PjlinkServers::searchAll()
{
    searches_.clear();
    std::map<QString, std::pair<QHostAddress, std::vector<QByteArray>>> searched;
    for (const auto& projector : fleet_.projectors()) {
        const ProjectorConfig& config = projector->config();
        if (!config.pjlink || !find(config.name))
            continue;
        auto& [address, hardwareAddresses] = searched[config.pjlink->listen.address.toString()];
        address = config.pjlink->listen.address;
        hardwareAddresses.push_back(pjlink::hardwareAddressOf(config.name));
    }
    for (auto& [text, at] : searched) {
        auto search = std::make_unique<PjlinkSearch>(std::move(at.second));
        if (const QString why = search->bind(at.first); !why.isEmpty())
            logLine(QStringLiteral("qx200d: pjlink: no search on %1: %2")
                        .arg(socketAddressText({at.first, PjlinkSearchPort}), why));
        else
            searches_.push_back(std::move(search));
    }
}

QString PjlinkServers::start()
{
    for (const auto& projector : fleet_.projectors()) {
        if (const QString why = serve(*projector); !why.isEmpty())
            return why;
    }
    searchAll();
    // A reload adds, removes and reopens projectors: their listeners follow.
    reloads_.push_back(QObject::connect(&fleet_, &Fleet::added, [this](Projector& projector) {
        if (const QString why = serve(projector); !why.isEmpty())
            logLine(QStringLiteral("qx200d: pjlink: ") + why);
        searchAll();
    }));
    reloads_.push_back(QObject::connect(&fleet_, &Fleet::removing, [this](Projector& projector) {
        std::erase_if(servers_,
                      [&](const auto& served) { return served.first == projector.config().name; });
        searchAll();
    }));
    return {};
}

const PjlinkServer* PjlinkServers::find(const QString& name) const
{
    for (const auto& [projector, server] : servers_)
        if (projector == name)
            return server.get();
    return nullptr;
}

} // namespace qx200
