#include "serial/ServicePaths.h"

#include <QDir>
#include <QFile>
#include <pwd.h>
#include <unistd.h>
#include <vector>

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
    if (!QDir::isAbsolutePath(xdg)) {
        const QString home = accountHome();
        if (home.isEmpty())
            return {};
        xdg = home + QStringLiteral("/.local/state");
    }
    return QDir(xdg).filePath(QLatin1String(Name));
}

QString accountHome()
{
    const QString home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(home))
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found ||
        !found->pw_dir)
        return {};
    const QString fromDatabase = QFile::decodeName(found->pw_dir);
    // A system account whose home is the root folder has none to keep records in.
    return QDir::isAbsolutePath(fromDatabase) && QDir(fromDatabase) != QDir::root() ? fromDatabase
                                                                                    : QString();
}

} // namespace qx200
