#include "console/port/DeviceResolution.h"

#include "serial/BoundedFile.h"
#include "serial/DeviceAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace qx200 {
namespace {

constexpr auto SettingsGroup = "ports";
// A settings file larger than this is not one.
constexpr std::int64_t MaxSettingsBytes = 1 << 20;

// "COM2" -> 2 after the given prefix; nothing for other names.
std::optional<std::int16_t> portNumber(const QString& name, const QString& prefix)
{
    if (!name.startsWith(prefix))
        return std::nullopt;
    bool numeric = false;
    const int port = name.mid(prefix.size()).toInt(&numeric);
    if (!numeric || port < 1 || port > INT16_MAX)
        return std::nullopt;
    return std::int16_t(port);
}

QMap<std::int16_t, QString> environmentChoices(const QProcessEnvironment& environment)
{
    QMap<std::int16_t, QString> choices;
    for (const QString& name : environment.keys()) {
        const auto port = portNumber(name, QStringLiteral("QX200_COM"));
        const QString device = environment.value(name);
        if (port && !device.isEmpty())
            choices.insert(*port, device);
    }
    return choices;
}

QMap<std::int16_t, QString> settingsChoices(const QString& path, QString* error,
                                            QStringList* mistakes)
{
    QMap<std::int16_t, QString> choices;
    if (!QFileInfo::exists(path))
        return choices;
    // What keeps the file from being read is told as it is (a permission, a folder), before its
    // form is looked at.
    if (const FileRead file =
            readRegularFile(QFile::encodeName(path).toStdString(), MaxSettingsBytes);
        !file.error.empty()) {
        if (error)
            *error = path + QStringLiteral(": ") + QString::fromLocal8Bit(file.error);
        return choices;
    }
    QSettings settings(path, QSettings::IniFormat);
    if (settings.status() != QSettings::NoError) {
        if (error)
            *error = path + QStringLiteral(": cannot be read as a settings file (see the README "
                                           "for its form)");
        return choices;
    }
    // A key the console does not read is told, not silently passed over: "com1=" outside
    // [ports], or a section spelt "[Ports]", would otherwise leave the port on its default.
    for (const QString& key : settings.allKeys()) {
        const QString prefix = QLatin1String(SettingsGroup) + u'/';
        if (!key.startsWith(prefix) || !portNumber(key.mid(prefix.size()), QStringLiteral("COM")))
            *mistakes << QStringLiteral("%1: unknown key \"%2\" (the console reads COM1, COM2, "
                                        "... under [ports], e.g. ports/COM1=/dev/ttyUSB0)")
                             .arg(path, key);
    }
    settings.beginGroup(QLatin1String(SettingsGroup));
    for (const QString& key : settings.childKeys()) {
        const auto port = portNumber(key, QStringLiteral("COM"));
        // A comma makes the settings reader split the value into a list: joined again, the value
        // is checked as written, and malformed is told as malformed.
        const QVariant value = settings.value(key);
        const QString device = value.typeId() == QMetaType::QStringList
                                   ? value.toStringList().join(u',')
                                   : value.toString();
        if (port && !device.isEmpty())
            choices.insert(*port, device);
    }
    return choices;
}

// "--com1", "QX200_COM1", "/home/ann/.config/qx200-control/qx200-control.conf, ports/COM1"
QString whereWritten(std::int16_t port, DeviceSource source, const DeviceChoices& choices)
{
    switch (source) {
    case DeviceSource::CommandLine:
        return QStringLiteral("--com%1").arg(port);
    case DeviceSource::Environment:
        return QStringLiteral("QX200_COM%1").arg(port);
    case DeviceSource::SettingsFile:
        return QStringLiteral("%1, %2/COM%3")
            .arg(choices.settingsPath)
            .arg(SettingsGroup)
            .arg(port);
    case DeviceSource::Default:
        break;
    }
    return QStringLiteral("COM%1").arg(port);
}

} // namespace

ResolvedDevice resolveDevice(std::int16_t port, const DeviceChoices& choices)
{
    const std::pair<const QMap<std::int16_t, QString>*, DeviceSource> sources[] = {
        {&choices.commandLine, DeviceSource::CommandLine},
        {&choices.environment, DeviceSource::Environment},
        {&choices.settingsFile, DeviceSource::SettingsFile},
    };
    for (const auto& [devices, source] : sources) {
        if (const auto found = devices->find(port); found != devices->end())
            return {*found, source};
    }
    return {QStringLiteral("/dev/ttyS%1").arg(port - 1), DeviceSource::Default};
}

QString settingsFilePath(const QProcessEnvironment& environment)
{
    QString base = environment.value(QStringLiteral("XDG_CONFIG_HOME"));
    if (!QDir::isAbsolutePath(base)) {
        const QString home = environment.value(QStringLiteral("HOME"), QDir::homePath());
        base = home + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/qx200-control/qx200-control.conf");
}

DeviceChoices readDeviceChoices(const QProcessEnvironment& environment, QString* error)
{
    DeviceChoices choices;
    choices.environment = environmentChoices(environment);
    choices.settingsPath = settingsFilePath(environment);
    choices.settingsFile = settingsChoices(choices.settingsPath, error, &choices.settingsMistakes);
    return choices;
}

QString devicePathFor(std::int16_t port)
{
    return resolveDevice(port, readDeviceChoices(QProcessEnvironment::systemEnvironment())).device;
}

QString deviceLine(std::int16_t port, const DeviceChoices& choices)
{
    const ResolvedDevice resolved = resolveDevice(port, choices);
    const QString origin =
        resolved.source == DeviceSource::Default
            ? QStringLiteral("the default")
            : QStringLiteral("from ") + whereWritten(port, resolved.source, choices);
    return QStringLiteral("COM%1 = %2 (%3)").arg(port).arg(resolved.device, origin);
}

QString checkDevices(const DeviceChoices& choices, std::initializer_list<std::int16_t> ports)
{
    for (const std::int16_t port : ports) {
        const ResolvedDevice resolved = resolveDevice(port, choices);
        QString error;
        if (!parseDeviceAddress(resolved.device, &error))
            return whereWritten(port, resolved.source, choices) + QStringLiteral(": ") + error;
    }
    return {};
}

} // namespace qx200
