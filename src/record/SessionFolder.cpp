#include "record/SessionFolder.h"

#include "serial/ServicePaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <vector>

namespace qx200::record {

QString sessionFolder(const QString& xdgStateHome, const QString& home)
{
    if (!QDir::isAbsolutePath(xdgStateHome) && !QDir::isAbsolutePath(home))
        return {};
    const QString base =
        QDir::isAbsolutePath(xdgStateHome) ? xdgStateHome : home + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/qx200-control/sessions"));
}

QString defaultSessionFolder()
{
    return sessionFolder(qEnvironmentVariable("XDG_STATE_HOME"), qx200::accountHome());
}

QString sessionFileName(Time start)
{
    // 2026-12-08T09:14:03.123456Z -> 2026-12-08T09-14-03.123456Z.tsv
    QString name = QString::fromStdString(formatTime(start));
    name.replace(QLatin1Char(':'), QLatin1Char('-'));
    return name + QStringLiteral(".tsv");
}

bool isSessionFileName(const QString& name)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d-\d\d-\d\d\.\d{6}Z\.tsv$)"));
    return shape.match(name).hasMatch();
}

QString dayFileName(Time time)
{
    // 2026-12-09T...Z -> 2026-12-09.tsv
    return QString::fromStdString(formatTime(time).substr(0, 10)) + QStringLiteral(".tsv");
}

bool isDayFileName(const QString& name)
{
    static const QRegularExpression shape(QStringLiteral(R"(^\d{4}-\d\d-\d\d\.tsv$)"));
    return shape.match(name).hasMatch();
}

QStringList sessionsToRemove(std::vector<SessionFile> files, const QString& current, qint64 bound)
{
    std::sort(files.begin(), files.end(),
              [](const SessionFile& a, const SessionFile& b) { return a.name < b.name; });
    qint64 total = 0;
    for (const SessionFile& file : files)
        total += file.size;
    QStringList removed;
    for (const SessionFile& file : files) {
        if (total <= bound)
            break;
        if (file.name == current)
            continue;
        removed << file.name;
        total -= file.size;
    }
    return removed;
}

void boundSessionFolder(const QString& folder, const QString& current, qint64 bound,
                        bool (*isRecord)(const QString&))
{
    const QDir dir(folder);
    std::vector<SessionFile> files;
    for (const QFileInfo& info : dir.entryInfoList(QDir::Files | QDir::Hidden)) {
        if (isRecord(info.fileName()))
            files.push_back({info.fileName(), info.size()});
    }
    for (const QString& name : sessionsToRemove(std::move(files), current, bound))
        QFile::remove(dir.filePath(name));
}

} // namespace qx200::record
