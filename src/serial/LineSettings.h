#pragma once

#include <QByteArray>
#include <QSerialPort>
#include <optional>

namespace qx200 {

// Parsed "19200,N,8,1": baud rate, parity letter, data bits, stop bits.
struct LineSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
// Nothing when the text is not a settings text.
std::optional<LineSettings> parseSettings(const QByteArray& text);

} // namespace qx200
