#include "serial/ConsoleAddresses.h"

#include "serial/ServicePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace qx200 {

namespace {

// A file the service writes is small; anything larger is not one.
constexpr qint64 MaxFileBytes = 64 * 1024;

QString canonicalDevice(const QString& path)
{
    return path.startsWith(QLatin1Char('/')) ? QFileInfo(path).canonicalFilePath() : QString();
}

} // namespace

QByteArray consoleAddressesText(const QList<ConsoleAddress>& consoles)
{
    QByteArray text;
    for (const ConsoleAddress& console : consoles)
        text += console.device.toUtf8() + '\t' + console.address.toUtf8() + '\n';
    return text;
}

QList<ConsoleAddress> parseConsoleAddresses(const QByteArray& text)
{
    QList<ConsoleAddress> consoles;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype tab = line.indexOf('\t');
        if (tab <= 0 || tab == line.size() - 1)
            continue;
        consoles.append({QString::fromUtf8(line.first(tab)),
                         QString::fromUtf8(line.sliced(tab + 1)).trimmed()});
    }
    return consoles;
}

QString writeConsoleAddresses(const QString& folder, const QList<ConsoleAddress>& consoles)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder %1").arg(folder);
    QSaveFile file(QDir(folder).filePath(QLatin1String(ConsoleAddressesFileName)));
    if (!file.open(QIODevice::WriteOnly) || file.write(consoleAddressesText(consoles)) < 0 ||
        !file.commit())
        return QStringLiteral("%1: %2").arg(file.fileName(), file.errorString());
    // Readable by every console user that may enter the folder, whatever the service's umask.
    QFile::setPermissions(file.fileName(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                               QFile::ReadOther);
    return {};
}

QString serviceConsoleAddress(const QString& devicePath)
{
    const QString device = canonicalDevice(devicePath);
    if (device.isEmpty())
        return {};
    for (const QString& folder : serviceRuntimeCandidates()) {
        QFile file(QDir(folder).filePath(QLatin1String(ConsoleAddressesFileName)));
        // A regular file only: a FIFO put there would hold the console on its open.
        if (!QFileInfo(file.fileName()).isFile() || !file.open(QIODevice::ReadOnly))
            continue;
        for (const ConsoleAddress& console : parseConsoleAddresses(file.read(MaxFileBytes))) {
            if (canonicalDevice(console.device) == device)
                return console.address;
        }
    }
    return {};
}

} // namespace qx200
