#pragma once

#include "serial/SerialPort.h"

#include <QString>

namespace qx200::testing {

// Opens the port, expecting to be refused: the refusal's text, or "(opened)" if the port opened.
inline QString openingRefusal(SerialPort& port)
{
    try {
        port.PortOpen(true);
    } catch (const PortError& error) {
        return error.text();
    }
    return QStringLiteral("(opened)");
}

} // namespace qx200::testing
