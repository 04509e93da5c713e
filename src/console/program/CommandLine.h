#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <cstdint>

namespace qx200 {

// What the console was asked to do on its command line.
struct ConsoleOptions {
    QMap<std::int16_t, QString> devices; // --com1, --com2: checked device texts by port number
    QString recordFile;                  // --record FILE
    bool noRecord = false;               // --no-record
};

struct CommandLine {
    enum class Action { Run, Help, Version, ListPorts, Error };

    Action action = Action::Run;
    ConsoleOptions options; // Action::Run
    // Help, Version: the text for standard output. Error: the lines for standard error (the
    // reason, then the usage).
    QString text;

    // 2 for a wrong command line, 0 otherwise (as Linux programs do).
    int exitStatus() const { return action == Action::Error ? 2 : 0; }
};

// Reads the console's arguments, program name first. Needs no application object; the program
// name and version come from QCoreApplication's static properties.
CommandLine parseConsoleCommandLine(const QStringList& arguments);

// Carries out a command line that does not start the window (help, version, the port list, a
// wrong command line) on standard output or standard error; returns the exit status.
int answerCommandLine(const CommandLine& command);

} // namespace qx200
