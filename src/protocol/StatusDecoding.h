#pragma once

// Turns the receive trace of a status query's reply into the status line. Works on the
// rendered text T (see TraceRendering.h), chosen by the command line that was sent last.

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <optional>

namespace qx200 {

struct StatusResult {
    QByteArray status;                         // the new caption of the status line
    std::optional<std::int16_t> pressureValue; // set by the pressure query only
};

// The status queries, in the order a command line is tried against them.
enum class StatusQuery {
    Power,
    Input,
    Orientation,
    LampHours,
    Temperatures,
    Mute,
    Raw,
    Pressure,
    LampMode
};

// The query's code, e.g. "CR0"; its command line is the prefix, the code and a carriage return.
QByteArrayView queryCode(StatusQuery query);

// The query that cmdLine is exactly (cmdPrefix + code + CR), if any.
std::optional<StatusQuery> statusQueryOf(QByteArrayView cmdLine, QByteArrayView cmdPrefix);

// The result for the rendered reply T of the query that cmdLine sent, or nothing when cmdLine is
// no status query (exactly cmdPrefix + query + CR) or no table row matches T.
std::optional<StatusResult> decodeStatus(QByteArrayView cmdLine, QByteArrayView cmdPrefix,
                                         QByteArrayView rendered);

// The number a text starts with: blanks, tabs and line feeds skipped anywhere; sign, digits,
// decimal point, exponent (E or D); stops at the first other character; no number gives 0.
double readNumber(QByteArrayView text);

// Rounds half to even into a signed 16-bit value; nothing when the result does not fit.
std::optional<std::int16_t> toInt16(double value);

// hPa from a raw pressure reading; nothing when the arithmetic leaves signed 16 bits.
std::optional<std::int16_t> pressureFromReading(std::int16_t reading);

} // namespace qx200
