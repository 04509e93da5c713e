#pragma once

#include <QByteArray>

namespace qx200 {

// Qt's GLib-based event loop sleeps in whole milliseconds, rounded up, so a 5 ms repeat ticks
// 5 to 6 ms apart; Qt's own Unix event loop sleeps to the microsecond. Choose it before the
// application object is made. A QT_NO_GLIB already in the environment is left as it is.
inline void preferFineTimers()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", QByteArrayLiteral("1"));
}

} // namespace qx200
