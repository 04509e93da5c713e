#pragma once

// Where the projector service keeps its run-time files (control socket, console addresses) and
// its records, and where its clients look for them.

#include <QString>
#include <QStringList>

namespace qx200 {

// The service's run-time folder: $RUNTIME_DIRECTORY as systemd sets it (the first, when it
// names several), else $XDG_RUNTIME_DIR/qx200d, else /run/qx200d.
QString serviceRuntimeDirectory();

// Where a client looks for a running service, in order: $RUNTIME_DIRECTORY when set, the
// user's $XDG_RUNTIME_DIR/qx200d, then the system service's /run/qx200d.
QStringList serviceRuntimeCandidates();

// The service's state folder: $STATE_DIRECTORY as systemd sets it (the first), else
// $XDG_STATE_HOME/qx200d, else ~/.local/state/qx200d; empty when there is no home either.
QString serviceStateDirectory();

// $HOME when it is an absolute path, else the account's home from the password database, else
// empty: never the root folder by default.
QString accountHome();

} // namespace qx200
