#include "link/StatusDecoding.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <string>

namespace qx200 {

namespace {

struct Row {
    const char* key;
    const char* text;
};

// Keys are the leading characters of the rendered reply: a space before each reply character.
constexpr std::array<Row, 13> PowerRows{{
    {" 0 0", " Power ON"},
    {" 8 0", " Stand by"},
    {" 4 0", " Count down"},
    {" 2 0", " Cooling down"},
    {" 1 0", " Power Fail"},
    {" 0 8", " Temperature Warning"},
    {" 0 2", " NO Key input "},
    {" 0 4", " Lamp OFF by PWR Management"},
    {" 2 8", " Temperature Warning & cooling down"},
    {" 2 4", "Cooling down  PWR Management"},
    {" 8 8", " Temperature Warning and recoverd"},
    {" 2 1", " Cooling down (All Lamp FAIL)"},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)"},
}};

constexpr std::array<Row, 4> InputRows{{
    {" 1", " Computer 1"},
    {" 2", " Computer 2"},
    {" 3", " Video"},
    {" 4", " Input mode 4"},
}};

constexpr std::array<Row, 4> OrientationRows{{
    {" 1 1", " Normally"},
    {" 1 0", " Top/Bottom reversal"},
    {" 0 1", " Left/Right reversal"},
    {" 0 0", " Top/Bottom , Left/Right reversal"},
}};

constexpr std::array<Row, 6> MuteRows{{
    {" 0 0", " Video & Audio mute OFF"},
    {" 0 1", " Video mute ON"},
    {" 0 2", " Audio mute ON"},
    {" 0 3", " Video & Audio mute ON"},
    {" 8 0", " No signal"},
    {" F F", " Stand by"},
}};

constexpr std::array<Row, 8> LampModeRows{{
    {" 0 0", " LAMP OFF"},
    {" 0 1", " LAMP ON"},
    {" 0 2", " No2 ON  : 2 Lamp mode"},
    {" 0 3", " No1,2 ON  : 2 Lamp mode"},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)"},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)"},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)"},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)"},
}};

// The first n characters (all of the text when it is shorter).
QByteArrayView left(QByteArrayView text, qsizetype n)
{
    return text.first(std::min(n, text.size()));
}

// n characters from the 1-based position (fewer when the text ends sooner, none beyond it).
QByteArrayView mid(QByteArrayView text, qsizetype position, qsizetype n)
{
    const qsizetype start = position - 1;
    if (start >= text.size())
        return {};
    return text.sliced(start, std::min(n, text.size() - start));
}

// Looks up the leading keyLength characters of the rendered reply in a table.
std::optional<StatusResult> lookup(std::span<const Row> rows, QByteArrayView rendered,
                                   qsizetype keyLength)
{
    const QByteArrayView key = left(rendered, keyLength);
    for (const Row& row : rows) {
        if (key == QByteArrayView(row.key))
            return StatusResult{QByteArray(row.text), std::nullopt};
    }
    return std::nullopt;
}

std::optional<StatusResult> lampHours(QByteArrayView rendered)
{
    return StatusResult{left(rendered, 38).toByteArray() + " Hour Use", std::nullopt};
}

std::optional<StatusResult> temperatures(QByteArrayView rendered)
{
    QByteArray status("  S1=");
    status += left(rendered, 10);
    status += " C  ,   S2= ";
    status += mid(rendered, 15, 8);
    status += " C , S3=";
    status += mid(rendered, 25, 10);
    status += " C";
    return StatusResult{status, std::nullopt};
}

std::optional<StatusResult> pressure(QByteArrayView rendered)
{
    const std::optional<std::int16_t> reading = toInt16(readNumber(rendered));
    if (!reading)
        return std::nullopt;
    const std::optional<std::int16_t> hPa = pressureFromReading(*reading);
    if (!hPa)
        return std::nullopt;
    return StatusResult{QByteArray::number(*hPa) + " hPa", hPa};
}

enum class Query {
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

struct QueryCode {
    const char* code;
    Query query;
};

// Tried in this order; a command line can equal at most one of them.
constexpr std::array<QueryCode, 9> Queries{{
    {"CR0", Query::Power},
    {"CR1", Query::Input},
    {"CR4", Query::Orientation},
    {"CR3", Query::LampHours},
    {"CR6", Query::Temperatures},
    {"CRA", Query::Mute},
    {"CR9", Query::Raw},
    {"CR PRESSURE", Query::Pressure},
    {"CR7", Query::LampMode},
}};

// Whether cmdLine is exactly prefix + code + CR.
bool isQueryLine(QByteArrayView cmdLine, QByteArrayView prefix, QByteArrayView code)
{
    return cmdLine.size() == prefix.size() + code.size() + 1 && cmdLine.startsWith(prefix) &&
           cmdLine.sliced(prefix.size(), code.size()) == code && cmdLine.back() == '\r';
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Walks a text, skipping blanks, tabs and line feeds wherever they occur.
class NumberCursor {
public:
    explicit NumberCursor(QByteArrayView text) : text_(text) {}

    // The next character that is not skipped, or 0 at the end.
    char peek()
    {
        while (pos_ < text_.size() && isBlank(text_[pos_]))
            ++pos_;
        return pos_ < text_.size() ? text_[pos_] : '\0';
    }
    void next() { ++pos_; }

private:
    QByteArrayView text_;
    qsizetype pos_ = 0;
};

} // namespace

std::optional<StatusResult> decodeStatus(QByteArrayView cmdLine, QByteArrayView cmdPrefix,
                                         QByteArrayView rendered)
{
    for (const QueryCode& query : Queries) {
        if (!isQueryLine(cmdLine, cmdPrefix, QByteArrayView(query.code)))
            continue;
        switch (query.query) {
        case Query::Power:
            return lookup(PowerRows, rendered, 4);
        case Query::Input:
            return lookup(InputRows, rendered, 2);
        case Query::Orientation:
            return lookup(OrientationRows, rendered, 4);
        case Query::LampHours:
            return lampHours(rendered);
        case Query::Temperatures:
            return temperatures(rendered);
        case Query::Mute:
            return lookup(MuteRows, rendered, 4);
        case Query::Raw:
            return StatusResult{rendered.toByteArray(), std::nullopt};
        case Query::Pressure:
            return pressure(rendered);
        case Query::LampMode:
            return lookup(LampModeRows, rendered, 4);
        }
    }
    return std::nullopt;
}

double readNumber(QByteArrayView text)
{
    // Gathers the number without its blanks into "[-]digits[.digits][e[-]digits]" and converts
    // that with from_chars, which ignores the locale.
    NumberCursor cursor(text);
    std::string number;
    if (cursor.peek() == '-' || cursor.peek() == '+') {
        if (cursor.peek() == '-')
            number += '-';
        cursor.next();
    }
    bool anyDigit = false;
    bool nonZeroSeen = false;
    qsizetype integerDigits = 0;
    while (isDigit(cursor.peek())) {
        const char digit = cursor.peek();
        anyDigit = true;
        if (digit != '0' || nonZeroSeen) {
            nonZeroSeen = true;
            number += digit;
            ++integerDigits;
        }
        cursor.next();
    }
    if (integerDigits == 0)
        number += '0';
    // The decimal order of the first non-zero digit, to tell an overflow from an underflow.
    long long leadingExponent = integerDigits;
    if (cursor.peek() == '.') {
        cursor.next();
        number += '.';
        while (isDigit(cursor.peek())) {
            const char digit = cursor.peek();
            anyDigit = true;
            if (!nonZeroSeen) {
                if (digit != '0')
                    nonZeroSeen = true;
                else
                    --leadingExponent;
            }
            number += digit;
            cursor.next();
        }
    }
    if (!anyDigit)
        return 0.0;

    // The exponent, saturated far beyond any double so that it cannot overflow.
    const char marker = cursor.peek();
    if (marker == 'E' || marker == 'e' || marker == 'D' || marker == 'd') {
        cursor.next();
        bool negative = false;
        if (cursor.peek() == '-' || cursor.peek() == '+') {
            negative = cursor.peek() == '-';
            cursor.next();
        }
        constexpr long long Saturation = 1'000'000;
        long long exponent = 0;
        bool exponentDigit = false;
        while (isDigit(cursor.peek())) {
            exponentDigit = true;
            exponent = std::min(Saturation, exponent * 10 + (cursor.peek() - '0'));
            cursor.next();
        }
        if (exponentDigit) { // an exponent without digits is ignored
            if (negative)
                exponent = -exponent;
            number += 'e';
            number += std::to_string(exponent);
            leadingExponent += exponent;
        }
    }

    double value = 0.0;
    const char* const first = number.data();
    const char* const last = first + number.size();
    const auto [end, error] = std::from_chars(first, last, value);
    (void)end;
    if (error == std::errc::result_out_of_range) {
        const bool negativeValue = number.front() == '-';
        if (leadingExponent > 0)
            value = std::numeric_limits<double>::infinity();
        else
            value = 0.0;
        return negativeValue ? -value : value;
    }
    if (error != std::errc())
        return 0.0;
    return value;
}

std::optional<std::int16_t> toInt16(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    // Round half to even without depending on the floating-point rounding mode.
    const double below = std::floor(value);
    const double fraction = value - below;
    double rounded = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0))
        rounded = below + 1.0;
    if (rounded < std::numeric_limits<std::int16_t>::min() ||
        rounded > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return static_cast<std::int16_t>(rounded);
}

std::optional<std::int16_t> pressureFromReading(std::int16_t reading)
{
    const int scaled = reading * 5;
    if (scaled < std::numeric_limits<std::int16_t>::min() ||
        scaled > std::numeric_limits<std::int16_t>::max())
        return std::nullopt;
    return toInt16(((scaled / 1024.0) - 0.204) / 0.00459 + 150);
}

} // namespace qx200
