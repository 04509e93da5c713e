#include "serial/LineSettings.h"

#include <QList>

namespace qx200 {

namespace {

template <class Value> struct Spelling {
    const char* text;
    Value value;
};
constexpr Spelling<QSerialPort::Parity> Parities[] = {
    {"N", QSerialPort::NoParity},   {"E", QSerialPort::EvenParity},  {"O", QSerialPort::OddParity},
    {"M", QSerialPort::MarkParity}, {"S", QSerialPort::SpaceParity},
};
constexpr Spelling<QSerialPort::StopBits> StopBits[] = {
    {"1", QSerialPort::OneStop},
    {"1.5", QSerialPort::OneAndHalfStop},
    {"2", QSerialPort::TwoStop},
};

template <class Value, std::size_t N>
std::optional<Value> lookUp(const Spelling<Value> (&table)[N], const QByteArray& text)
{
    for (const auto& [spelling, value] : table) {
        if (text == spelling)
            return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseSettings(const QByteArray& text)
{
    const QList<QByteArray> fields = text.toUpper().split(',');
    if (fields.size() != 4)
        return std::nullopt;
    bool baudOk = false;
    bool bitsOk = false;
    const qint32 baud = fields[0].trimmed().toInt(&baudOk);
    const int dataBits = fields[2].trimmed().toInt(&bitsOk);
    const auto parity = lookUp(Parities, fields[1].trimmed());
    const auto stopBits = lookUp(StopBits, fields[3].trimmed());
    if (!baudOk || baud <= 0 || !bitsOk || dataBits < 5 || dataBits > 8 || !parity || !stopBits)
        return std::nullopt;
    return LineSettings{baud, *parity, QSerialPort::DataBits(dataBits), *stopBits};
}

} // namespace qx200
