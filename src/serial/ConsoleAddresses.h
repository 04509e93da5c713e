#pragma once

// Where the running projector service lets a console attach to each projector's line: the file
// "consoles" in its run-time folder, one "DEVICE<TAB>ADDRESS" line per projector that has a
// console address ("/dev/serial/by-id/usb-...<TAB>127.0.0.1:4660"). The service writes it at
// start and removes it at exit; a console refused a port the service holds reads it to say how
// to attach instead.

#include <QByteArray>
#include <QList>
#include <QString>

namespace qx200 {

inline constexpr auto ConsoleAddressesFileName = "consoles";

struct ConsoleAddress {
    QString device;  // as configured: a path, tcp:HOST:PORT or rfc2217:HOST:PORT
    QString address; // where a console connects: "127.0.0.1:4660", "[::1]:4660"
    friend bool operator==(const ConsoleAddress&, const ConsoleAddress&) = default;
};

QByteArray consoleAddressesText(const QList<ConsoleAddress>& consoles);
// Lines without a tab, or with an empty part, are skipped.
QList<ConsoleAddress> parseConsoleAddresses(const QByteArray& text);

// Writes the file into the folder (made when missing) in one step, so that a reader never sees
// half of it. Empty on success, otherwise why not.
QString writeConsoleAddresses(const QString& folder, const QList<ConsoleAddress>& consoles);

// The console address a running service gives for the local device, looked up in each of
// serviceRuntimeCandidates(); a link and its target name the same device. Empty when none.
QString serviceConsoleAddress(const QString& devicePath);

} // namespace qx200
