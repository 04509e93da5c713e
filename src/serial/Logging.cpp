#include "serial/Logging.h"

namespace qx200 {

Q_LOGGING_CATEGORY(logSerial, "qx200.serial", QtInfoMsg)
Q_LOGGING_CATEGORY(logLink, "qx200.link", QtInfoMsg)
Q_LOGGING_CATEGORY(logPanel, "qx200.panel", QtInfoMsg)

} // namespace qx200
