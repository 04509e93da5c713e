#pragma once

// One line of a session record, and the reading of it back. Plain C++, so that the simulator
// reads records too.
//
// A line is six tab-separated fields in a fixed order, ended by a line feed, and in the
// service's records a seventh, the sender:
//
//   TIME  COM  DEVICE  EVENT  TEXT  HEX  [SENDER]
//
// TIME is UTC in ISO 8601 with microseconds ("2026-12-08T09:14:03.123456Z"). TEXT holds the
// event's bytes: printable ASCII as itself, a backslash as "\\", every other byte (tab and line
// feed included) as "\xHH", so that no field ever holds a tab or a line feed. HEX repeats the
// bytes of a sent, received or unsent event as upper-case pairs separated by spaces; it is empty
// for the other events. SENDER names who wrote a sent line ("poller", "10.0.0.5 (pjlink)"),
// escaped as TEXT is; it is empty for the events that nobody sent. The first line of a file
// names the fields; every line of a file has the same number of them.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx200::record {

using Time = std::chrono::sys_time<std::chrono::microseconds>;

enum class Event : std::uint8_t {
    Sent,       // bytes written to the line
    Received,   // bytes read from the line
    Status,     // the decoded status text that the status line changed to
    Opened,     // the port opened; the text is its settings
    OpenFailed, // the port did not open; the text says why
    Lost,       // the device went away under the open port; the text says how
    Back,       // the device is usable again
    Speed,      // new settings ("9600,N,8,1")
    Closed,     // the open port closed
    Unrecorded, // "N events, M bytes" went unrecorded while the record had fallen behind
    Unsent,     // bytes the console sent while the device was away: they never reached the line
};

// Every event, in declaration order.
inline constexpr Event AllEvents[] = {
    Event::Sent, Event::Received, Event::Status, Event::Opened,     Event::OpenFailed, Event::Lost,
    Event::Back, Event::Speed,    Event::Closed, Event::Unrecorded, Event::Unsent,
};

// The event's word in the record ("sent", "open-failed", ...).
std::string_view eventName(Event event);
std::optional<Event> eventNamed(std::string_view name);
// Whether the event's bytes are the line's own and are repeated in hex.
bool carriesLineBytes(Event event);

inline constexpr std::string_view HeaderLine = "time\tcom\tdevice\tevent\ttext\thex\n";
inline constexpr std::string_view HeaderLineWithSender =
    "time\tcom\tdevice\tevent\ttext\thex\tsender\n";

struct Line {
    Time time;
    std::string com;    // "COM1"
    std::string device; // what COM1 stood for, e.g. "/dev/ttyUSB0"
    Event event = Event::Sent;
    std::string bytes; // the text, unescaped
    // The seventh field, unescaped; nothing on a six-field line.
    std::optional<std::string> sender = std::nullopt;

    friend bool operator==(const Line&, const Line&) = default;
};

std::string escapeBytes(std::string_view bytes);
// Nothing when the text holds a byte that escapeBytes escapes, or a broken escape. Lower-case
// hex digits are read too.
std::optional<std::string> unescapeBytes(std::string_view text);
std::string hexBytes(std::string_view bytes);
std::optional<std::string> unhexBytes(std::string_view hex);

std::string formatTime(Time time);
std::optional<Time> parseTime(std::string_view text);

// Appends one whole line, line feed included: six fields, or seven with a sender.
void appendLine(std::string& out, Time time, std::string_view com, std::string_view device,
                Event event, std::string_view bytes,
                std::optional<std::string_view> sender = std::nullopt);
inline std::string formatLine(const Line& line)
{
    std::string out;
    appendLine(out, line.time, line.com, line.device, line.event, line.bytes, line.sender);
    return out;
}
// Reads one line of six or seven fields without its line feed. Nothing for a header, a
// malformed line, or one whose hex does not repeat its text.
std::optional<Line> parseLine(std::string_view text);

} // namespace qx200::record
