#pragma once

// qx200ctl's command line: the options and the command, made into a request for the service.

#include "service/ControlProtocol.h"

#include <QString>
#include <QStringList>
#include <optional>

namespace qx200 {

// qx200ctl's exit status.
inline constexpr int CtlDone = 0;
inline constexpr int CtlFailed = 1; // refused or failed, the reason on stderr
inline constexpr int CtlUsage = 2;  // a wrong command line

struct CtlOptions {
    enum class Mode { Run, Help, Version };
    Mode mode = Mode::Run;
    QString socket; // empty: the first qx200d.sock found in the service's run-time folders
    bool json = false;
    ControlRequest request;
};

struct ParsedCtlOptions {
    std::optional<CtlOptions> options; // nothing when the command line is wrong
    QString error;                     // one line, for the user
};

// Parses the arguments after the program name.
ParsedCtlOptions parseCtlOptions(const QStringList& args);

// The exit status when the command line alone decides it: usage for a wrong one, done for
// --help and --version; nothing when the service is to be asked.
std::optional<int> exitWithoutService(const ParsedCtlOptions& parsed);

// The first of the folders holding the socket, as its path; nothing when none does.
std::optional<QString> locateControlSocket(const QStringList& folders);

QString ctlUsage();

} // namespace qx200
