#pragma once

#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <initializer_list>

namespace qx200 {

// Where the device behind a COM port name comes from, first to last.
enum class DeviceSource { CommandLine, Environment, SettingsFile, Default };

// The device texts each source names, by port number. Empty texts are not kept.
struct DeviceChoices {
    QMap<std::int16_t, QString> commandLine;  // --com1, --com2
    QMap<std::int16_t, QString> environment;  // QX200_COM<n>
    QMap<std::int16_t, QString> settingsFile; // ports/COM<n>
    QString settingsPath;                     // where the settings file was looked for
    QStringList settingsMistakes;             // keys of the file the console does not know
};

struct ResolvedDevice {
    QString device;
    DeviceSource source = DeviceSource::Default;
    friend bool operator==(const ResolvedDevice&, const ResolvedDevice&) = default;
};

// COMn is the first of: --comN, QX200_COM<n>, ports/COM<n> in the settings file, /dev/ttyS<n-1>.
ResolvedDevice resolveDevice(std::int16_t port, const DeviceChoices& choices);

// $XDG_CONFIG_HOME/qx200-control/qx200-control.conf; ~/.config stands for an unset or relative
// XDG_CONFIG_HOME, as the base directory rules have it.
QString settingsFilePath(const QProcessEnvironment& environment);

// The environment's and the settings file's choices (the command line's are left empty). A
// missing settings file names nothing; one that cannot be read leaves the reason in *error.
DeviceChoices readDeviceChoices(const QProcessEnvironment& environment, QString* error = nullptr);

// COMn as the environment and the settings file of this process name it, else /dev/ttyS<n-1>.
QString devicePathFor(std::int16_t port);

// What COMn stands for and where that is written, as the console tells it at start:
// "COM1 = tcp:10.0.0.7:4001 (from --com1)", "COM2 = /dev/ttyS1 (the default)".
QString deviceLine(std::int16_t port, const DeviceChoices& choices);

// The first of these ports whose device text is malformed, as a line that says where it is
// written and what is wrong; empty when every one is well formed.
QString checkDevices(const DeviceChoices& choices, std::initializer_list<std::int16_t> ports);

} // namespace qx200
