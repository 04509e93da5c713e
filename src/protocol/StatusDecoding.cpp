#include "protocol/StatusDecoding.h"
#include "protocol/StatusReading.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace qx200 {

namespace {

// One row of a query table: the leading characters of the rendered reply (a space before each
// reply character), the status line they give, and the value they stand for.
template <class Value> struct Row {
    const char* key;
    const char* text;
    Value value;
};

constexpr PowerState On = PowerState::On;
constexpr PowerState Standby = PowerState::Standby;
constexpr PowerState CoolingDown = PowerState::CoolingDown;

constexpr std::array<Row<PowerReading>, 13> PowerRows{{
    {" 0 0", " Power ON", {On, {}}},
    {" 8 0", " Stand by", {Standby, {}}},
    {" 4 0", " Count down", {PowerState::WarmUp, {}}},
    {" 2 0", " Cooling down", {CoolingDown, {}}},
    {" 1 0", " Power Fail", {std::nullopt, {.powerFail = true}}},
    {" 0 8", " Temperature Warning", {On, {.temperatureWarning = true}}},
    {" 0 2", " NO Key input ", {On, {.noKeyInput = true}}},
    {" 0 4", " Lamp OFF by PWR Management", {On, {.powerManagement = true}}},
    {" 2 8", " Temperature Warning & cooling down", {CoolingDown, {.temperatureWarning = true}}},
    {" 2 4", "Cooling down  PWR Management", {CoolingDown, {.powerManagement = true}}},
    {" 8 8", " Temperature Warning and recoverd", {Standby, {.temperatureWarning = true}}},
    {" 2 1", " Cooling down (All Lamp FAIL)", {CoolingDown, {.lampFailure = true}}},
    {" 8 1", " Cooling down & sutandby (All Lamp FAIL)", {Standby, {.lampFailure = true}}},
}};

constexpr std::array<Row<InputSource>, 4> InputRows{{
    {" 1", " Computer 1", InputSource::Computer1},
    {" 2", " Computer 2", InputSource::Computer2},
    {" 3", " Video", InputSource::Video},
    {" 4", " Input mode 4", InputSource::Input4},
}};

constexpr std::array<Row<Orientation>, 4> OrientationRows{{
    {" 1 1", " Normally", {false, false}},
    {" 1 0", " Top/Bottom reversal", {true, false}},
    {" 0 1", " Left/Right reversal", {false, true}},
    {" 0 0", " Top/Bottom , Left/Right reversal", {true, true}},
}};

constexpr PictureSignal Present = PictureSignal::Present;

constexpr std::array<Row<MuteReading>, 6> MuteRows{{
    {" 0 0", " Video & Audio mute OFF", {Present, false, false}},
    {" 0 1", " Video mute ON", {Present, true, false}},
    {" 0 2", " Audio mute ON", {Present, false, true}},
    {" 0 3", " Video & Audio mute ON", {Present, true, true}},
    {" 8 0", " No signal", {PictureSignal::NoSignal, false, false}},
    {" F F", " Stand by", {PictureSignal::Standby, false, false}},
}};

constexpr LampMode TwoLamps = LampMode::TwoLamps;

constexpr std::array<Row<LampReading>, 8> LampModeRows{{
    {" 0 0", " LAMP OFF", {TwoLamps, false, false}},
    {" 0 1", " LAMP ON", {TwoLamps, true, false}},
    {" 0 2", " No2 ON  : 2 Lamp mode", {TwoLamps, false, true}},
    {" 0 3", " No1,2 ON  : 2 Lamp mode", {TwoLamps, true, true}},
    {" 1 0", " All OFF : 1 Lamp mode(No1 USE)", {LampMode::Lamp1Only, false, false}},
    {" 1 1", " No1 ON  : 1 Lamp mode(No1 USE)", {LampMode::Lamp1Only, true, false}},
    {" 2 0", " All OFF : 1 Lamp mode(No2 USE)", {LampMode::Lamp2Only, false, false}},
    {" 2 2", " No2 ON  : 1 Lamp mode(No2 USE)", {LampMode::Lamp2Only, false, true}},
}};

// A piece of the rendered temperature reply: from a 1-based position, this many characters.
struct Field {
    qsizetype position;
    qsizetype length;
};

// S1, S2 and S3: reply characters 1-5, 8-11 and 13-17; 6, 7 and 12 are not shown.
constexpr std::array<Field, 3> TemperatureFields{{{1, 10}, {15, 8}, {25, 10}}};
constexpr std::array<const char*, 3> TemperatureLabels{"  S1=", " C  ,   S2= ", " C , S3="};

// The lamp-hours line shows this much of the rendering, up to 18 reply characters.
constexpr qsizetype LampHoursShown = 38;
// A lamp-hours reply longer than this is no count of hours.
constexpr qsizetype MaxLampHoursDigits = 9;

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

// The row whose key the leading characters of the rendered reply equal, if any.
template <class Value, std::size_t N>
const Row<Value>* findRow(const std::array<Row<Value>, N>& rows, QByteArrayView rendered)
{
    const QByteArrayView key = left(rendered, qsizetype(std::strlen(rows.front().key)));
    for (const Row<Value>& row : rows) {
        if (key == QByteArrayView(row.key))
            return &row;
    }
    return nullptr;
}

QByteArray lampHoursText(QByteArrayView rendered)
{
    return left(rendered, LampHoursShown).toByteArray() + " Hour Use";
}

QByteArray temperaturesText(QByteArrayView rendered)
{
    QByteArray status;
    for (std::size_t i = 0; i < TemperatureFields.size(); ++i) {
        status += TemperatureLabels[i];
        status += mid(rendered, TemperatureFields[i].position, TemperatureFields[i].length);
    }
    return status + " C";
}

// The pressure in hPa that the console shows for the rendered reply.
std::optional<std::int16_t> pressureOf(QByteArrayView rendered)
{
    const std::optional<std::int16_t> reading = toInt16(readNumber(rendered));
    if (!reading)
        return std::nullopt;
    return pressureFromReading(*reading);
}

QByteArray pressureText(std::int16_t hPa)
{
    return QByteArray::number(hPa) + " hPa";
}

// The reply characters behind a piece of rendering made only of printable characters, each
// after its space; nothing when the piece holds anything else.
std::optional<QByteArray> replyCharacters(QByteArrayView piece)
{
    if (piece.size() % 2 != 0)
        return std::nullopt;
    QByteArray characters;
    for (qsizetype i = 0; i < piece.size(); i += 2) {
        const auto c = static_cast<unsigned char>(piece[i + 1]);
        if (piece[i] != ' ' || c < 32 || c > 122)
            return std::nullopt;
        characters += char(c);
    }
    return characters;
}

// The characters of one whole reply: printable characters, then its carriage return, nothing
// before or after.
std::optional<QByteArray> wholeReply(QByteArrayView rendered)
{
    constexpr QByteArrayView End(" CR ");
    if (!rendered.endsWith(End))
        return std::nullopt;
    return replyCharacters(rendered.chopped(End.size()));
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool allDigits(QByteArrayView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), isDigit);
}

// A plain decimal number ("-12", "25.0"): optional sign, digits, optional point and digits.
std::optional<double> decimalNumber(QByteArrayView text)
{
    const bool negative = text.startsWith('-');
    if (negative || text.startsWith('+'))
        text = text.sliced(1);
    const qsizetype point = text.indexOf('.');
    const QByteArrayView whole = point < 0 ? text : text.first(point);
    if (!allDigits(whole) || (point >= 0 && !allDigits(text.sliced(point + 1))))
        return std::nullopt;
    double value = 0.0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return negative ? -value : value;
}

template <class Value, std::size_t N>
std::optional<StatusReading> tableReading(const std::array<Row<Value>, N>& rows,
                                          QByteArrayView rendered)
{
    const Row<Value>* row = findRow(rows, rendered);
    if (!row)
        return std::nullopt;
    return StatusReading{QByteArray(row->text), row->value};
}

std::optional<StatusReading> lampHoursReading(QByteArrayView rendered)
{
    const std::optional<QByteArray> reply = wholeReply(rendered);
    if (!reply || !allDigits(*reply) || reply->size() > MaxLampHoursDigits)
        return std::nullopt;
    return StatusReading{lampHoursText(rendered), LampHours{reply->toLongLong()}};
}

std::optional<StatusReading> temperaturesReading(QByteArrayView rendered)
{
    if (!wholeReply(rendered))
        return std::nullopt;
    Temperatures temperatures;
    for (std::size_t i = 0; i < TemperatureFields.size(); ++i) {
        const Field& field = TemperatureFields[i];
        if (field.position - 1 + field.length > rendered.size())
            return std::nullopt;
        const auto characters = replyCharacters(mid(rendered, field.position, field.length));
        const std::optional<double> value = characters ? decimalNumber(*characters) : std::nullopt;
        if (!value)
            return std::nullopt;
        temperatures.celsius[i] = *value;
    }
    return StatusReading{temperaturesText(rendered), temperatures};
}

std::optional<StatusReading> pressureReading(QByteArrayView rendered)
{
    const std::optional<QByteArray> reply = wholeReply(rendered);
    if (!reply || !decimalNumber(*reply))
        return std::nullopt;
    const std::optional<std::int16_t> hPa = pressureOf(rendered);
    if (!hPa)
        return std::nullopt;
    return StatusReading{pressureText(*hPa), Pressure{*hPa}};
}

std::optional<StatusResult> pressureStatus(QByteArrayView rendered)
{
    const std::optional<std::int16_t> hPa = pressureOf(rendered);
    if (!hPa)
        return std::nullopt;
    return StatusResult{pressureText(*hPa), hPa};
}

struct QueryCode {
    const char* code;
    StatusQuery query;
};

// Tried in this order; a command line can equal at most one of them.
constexpr std::array<QueryCode, 9> Queries{{
    {"CR0", StatusQuery::Power},
    {"CR1", StatusQuery::Input},
    {"CR4", StatusQuery::Orientation},
    {"CR3", StatusQuery::LampHours},
    {"CR6", StatusQuery::Temperatures},
    {"CRA", StatusQuery::Mute},
    {"CR9", StatusQuery::Raw},
    {"CR PRESSURE", StatusQuery::Pressure},
    {"CR7", StatusQuery::LampMode},
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

QByteArrayView queryCode(StatusQuery query)
{
    const auto* entry = std::find_if(Queries.begin(), Queries.end(),
                                     [query](const QueryCode& q) { return q.query == query; });
    return QByteArrayView(entry->code);
}

std::optional<StatusQuery> statusQueryOf(QByteArrayView cmdLine, QByteArrayView cmdPrefix)
{
    for (const QueryCode& query : Queries) {
        if (isQueryLine(cmdLine, cmdPrefix, QByteArrayView(query.code)))
            return query.query;
    }
    return std::nullopt;
}

std::optional<StatusResult> decodeStatus(QByteArrayView cmdLine, QByteArrayView cmdPrefix,
                                         QByteArrayView rendered)
{
    const std::optional<StatusQuery> query = statusQueryOf(cmdLine, cmdPrefix);
    if (!query)
        return std::nullopt;
    switch (*query) {
    case StatusQuery::LampHours:
        return StatusResult{lampHoursText(rendered), std::nullopt};
    case StatusQuery::Temperatures:
        return StatusResult{temperaturesText(rendered), std::nullopt};
    case StatusQuery::Raw:
        return StatusResult{rendered.toByteArray(), std::nullopt};
    case StatusQuery::Pressure:
        return pressureStatus(rendered);
    default: // a table query: its row's text
        if (const std::optional<StatusReading> reading = readStatus(*query, rendered))
            return StatusResult{reading->status, std::nullopt};
        return std::nullopt;
    }
}

std::optional<StatusReading> readStatus(StatusQuery query, QByteArrayView rendered)
{
    switch (query) {
    case StatusQuery::Power:
        return tableReading(PowerRows, rendered);
    case StatusQuery::Input:
        return tableReading(InputRows, rendered);
    case StatusQuery::Orientation:
        return tableReading(OrientationRows, rendered);
    case StatusQuery::LampHours:
        return lampHoursReading(rendered);
    case StatusQuery::Temperatures:
        return temperaturesReading(rendered);
    case StatusQuery::Mute:
        return tableReading(MuteRows, rendered);
    case StatusQuery::Raw:
        return std::nullopt;
    case StatusQuery::Pressure:
        return pressureReading(rendered);
    case StatusQuery::LampMode:
        return tableReading(LampModeRows, rendered);
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
