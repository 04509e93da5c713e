#include "console/Form1.h"

#include <QRadioButton>

namespace qx200 {

// Each COM's device and how it is doing: "COM1 = tcp:10.0.0.7:4001 (from --com1): connecting".
QString Form1::portToolTip(std::int16_t port) const
{
    const char* state = "not open";
    if (port == comm_.CommPort() && comm_.PortOpen()) {
        if (comm_.DeviceReady())
            state = "open";
        else if (deviceAway_)
            state = "away; the console reconnects when it is back";
        else
            state = "connecting";
    }
    return describePort(port) + QStringLiteral(": ") + QLatin1String(state);
}

// The "COM" button names both ports; each port option names its own.
void Form1::refreshToolTip(QObject* control)
{
    QList<std::int16_t> ports;
    if (control == Option1)
        ports = {1};
    else if (control == Option2)
        ports = {2};
    else if (control->objectName() == QLatin1String("Command33"))
        ports = {1, 2};
    else
        return;
    // Device names are not markup: each line is escaped, and none is wrapped.
    QStringList lines;
    for (const std::int16_t port : ports)
        lines << portToolTip(port).toHtmlEscaped();
    static_cast<QWidget*>(control)->setToolTip(QStringLiteral("<p style='white-space:pre'>") +
                                               lines.join(QStringLiteral("<br>")) +
                                               QStringLiteral("</p>"));
}

} // namespace qx200
