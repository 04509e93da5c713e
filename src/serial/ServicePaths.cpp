#include "serial/ServicePaths.h"

#include <QDir>

namespace qx200 {

namespace {

constexpr auto Name = "qx200d";

// A folder systemd passes: the first of a colon-separated list; empty when unset.
QString systemdDirectory(const char* variable)
{
    return qEnvironmentVariable(variable).section(u':', 0, 0);
}

QString userRuntimeDirectory()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return xdg.isEmpty() ? QString() : QDir(xdg).filePath(QLatin1String(Name));
}

const QString SystemRuntimeDirectory = QStringLiteral("/run/qx200d");

} // namespace

QString serviceRuntimeDirectory()
{
    if (const QString systemd = systemdDirectory("RUNTIME_DIRECTORY"); !systemd.isEmpty())
        return systemd;
    if (const QString user = userRuntimeDirectory(); !user.isEmpty())
        return user;
    return SystemRuntimeDirectory;
}

QStringList serviceRuntimeCandidates()
{
    QStringList candidates;
    for (const QString& folder :
         {systemdDirectory("RUNTIME_DIRECTORY"), userRuntimeDirectory(), SystemRuntimeDirectory})
        if (!folder.isEmpty() && !candidates.contains(folder))
            candidates << folder;
    return candidates;
}

QString serviceStateDirectory()
{
    if (const QString systemd = systemdDirectory("STATE_DIRECTORY"); !systemd.isEmpty())
        return systemd;
    QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
    if (xdg.isEmpty())
        xdg = QDir::home().filePath(QStringLiteral(".local/state"));
    return QDir(xdg).filePath(QLatin1String(Name));
}

} // namespace qx200
