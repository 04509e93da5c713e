#include "record/RecordFormat.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <vector>

namespace qx200::record {
namespace {

using namespace std::chrono;

constexpr std::array<std::string_view, std::size(AllEvents)> EventNames = {
    "sent", "received", "status", "opened",     "open-failed", "lost",
    "back", "speed",    "closed", "unrecorded", "unsent",
};

constexpr char HexDigits[] = "0123456789ABCDEF";

bool isPlain(unsigned char byte)
{
    return byte >= 0x20 && byte <= 0x7E && byte != '\\';
}

// Appends the bytes as record text, in place.
void appendEscaped(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (isPlain(byte)) {
            out += c;
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            const char escaped[] = {'\\', 'x', HexDigits[byte >> 4], HexDigits[byte & 0xF]};
            out.append(escaped, sizeof escaped);
        }
    }
}

void appendHex(std::string& out, std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            out += ' ';
        out += HexDigits[byte >> 4];
        out += HexDigits[byte & 0xF];
    }
}

std::optional<int> hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') // hand-written records
        return digit - 'a' + 10;
    return std::nullopt;
}

std::optional<char> hexByte(char high, char low)
{
    const auto h = hexValue(high);
    const auto l = hexValue(low);
    if (!h || !l)
        return std::nullopt;
    return static_cast<char>(*h * 16 + *l);
}

// A decimal number of exactly the text's digits.
std::optional<unsigned> digits(std::string_view text)
{
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::vector<std::string_view> splitTabs(std::string_view text)
{
    std::vector<std::string_view> fields;
    for (std::size_t start = 0;;) {
        const std::size_t tab = text.find('\t', start);
        fields.push_back(text.substr(start, tab - start));
        if (tab == text.npos)
            return fields;
        start = tab + 1;
    }
}

} // namespace

std::string_view eventName(Event event)
{
    return EventNames[static_cast<std::size_t>(event)];
}

std::optional<Event> eventNamed(std::string_view name)
{
    for (const Event event : AllEvents) {
        if (eventName(event) == name)
            return event;
    }
    return std::nullopt;
}

bool carriesLineBytes(Event event)
{
    return event == Event::Sent || event == Event::Received || event == Event::Unsent;
}

std::string escapeBytes(std::string_view bytes)
{
    std::string text;
    appendEscaped(text, bytes);
    return text;
}

std::optional<std::string> unescapeBytes(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\\') {
            if (!isPlain(static_cast<unsigned char>(c)))
                return std::nullopt;
            bytes += c;
        } else if (text.substr(i + 1, 1) == "\\") {
            bytes += '\\';
            i += 1;
        } else if (text.substr(i + 1, 1) == "x" && i + 3 < text.size()) {
            const auto byte = hexByte(text[i + 2], text[i + 3]);
            if (!byte)
                return std::nullopt;
            bytes += *byte;
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return bytes;
}

std::string hexBytes(std::string_view bytes)
{
    std::string hex;
    appendHex(hex, bytes);
    return hex;
}

std::optional<std::string> unhexBytes(std::string_view hex)
{
    std::string bytes;
    if (hex.empty())
        return bytes;
    if (hex.size() % 3 != 2)
        return std::nullopt;
    for (std::size_t i = 0; i < hex.size(); i += 3) {
        if (i > 0 && hex[i - 1] != ' ')
            return std::nullopt;
        const auto byte = hexByte(hex[i], hex[i + 1]);
        if (!byte)
            return std::nullopt;
        bytes += *byte;
    }
    return bytes;
}

std::string formatTime(Time time)
{
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06lldZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                  int(clock.minutes().count()), int(clock.seconds().count()),
                  static_cast<long long>(clock.subseconds().count()));
    return text;
}

std::optional<Time> parseTime(std::string_view text)
{
    // 2026-12-08T09:14:03.123456Z
    constexpr std::string_view Shape = "0000-00-00T00:00:00.000000Z";
    if (text.size() != Shape.size())
        return std::nullopt;
    for (std::size_t i = 0; i < Shape.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (Shape[i] == '0' ? !digit : text[i] != Shape[i])
            return std::nullopt;
    }
    const auto field = [&](std::size_t at, std::size_t length) {
        return *digits(text.substr(at, length));
    };
    const year_month_day date{year(int(field(0, 4))), month(field(5, 2)), day(field(8, 2))};
    const unsigned h = field(11, 2), m = field(14, 2), s = field(17, 2);
    if (!date.ok() || h > 23 || m > 59 || s > 59)
        return std::nullopt;
    return Time(sys_days(date)) + hours(h) + minutes(m) + seconds(s) + microseconds(field(20, 6));
}

void appendLine(std::string& out, Time time, std::string_view com, std::string_view device,
                Event event, std::string_view bytes, std::optional<std::string_view> sender)
{
    out += formatTime(time);
    out += '\t';
    out += com;
    out += '\t';
    appendEscaped(out, device);
    out += '\t';
    out += eventName(event);
    out += '\t';
    appendEscaped(out, bytes);
    out += '\t';
    if (carriesLineBytes(event))
        appendHex(out, bytes);
    if (sender) {
        out += '\t';
        appendEscaped(out, *sender);
    }
    out += '\n';
}

std::optional<Line> parseLine(std::string_view text)
{
    const std::vector<std::string_view> fields = splitTabs(text);
    if (fields.size() != 6 && fields.size() != 7)
        return std::nullopt;
    const auto time = parseTime(fields[0]);
    const auto device = unescapeBytes(fields[2]);
    const auto event = eventNamed(fields[3]);
    const auto bytes = unescapeBytes(fields[4]);
    const auto hex = unhexBytes(fields[5]);
    if (!time || !device || !event || !bytes || !hex || fields[1].empty())
        return std::nullopt;
    if (carriesLineBytes(*event) ? *hex != *bytes : !hex->empty())
        return std::nullopt;
    std::optional<std::string> sender;
    if (fields.size() == 7 && !(sender = unescapeBytes(fields[6])))
        return std::nullopt;
    return Line{*time, std::string(fields[1]), *device, *event, *bytes, std::move(sender)};
}

} // namespace qx200::record
