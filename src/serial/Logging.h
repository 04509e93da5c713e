#pragma once

#include <QLoggingCategory>

namespace qx200 {

// Traces of the failures the console gets over by itself (a handler ended by a failed serial
// operation, a reconnection attempt, a line not sent). Debug level, off unless turned on, e.g.
// QT_LOGGING_RULES="qx200.*.debug=true".
Q_DECLARE_LOGGING_CATEGORY(logSerial) // qx200.serial: the serial service and the port choice
Q_DECLARE_LOGGING_CATEGORY(logLink)   // qx200.link: sending and receiving lines
Q_DECLARE_LOGGING_CATEGORY(logPanel)  // qx200.panel: the panel's buttons and timers

} // namespace qx200
