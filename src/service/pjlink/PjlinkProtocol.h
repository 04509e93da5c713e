#pragma once

// The network projector protocol's requests and replies, and what each request asks of the
// projector's line. Pure functions, no I/O: a connection parses a line, asks plan() what to do,
// and either answers at once, writes the command lines, or reads the queries and answers from
// their readings with answerQuery().
//
// Strict in what it writes (upper-case headers, "%1POWR=1\r"), lenient in what it takes:
// lower-case commands, a line feed around the carriage return, stray blanks.

#include "protocol/StatusDecoding.h"
#include "service/FleetConfig.h"
#include "service/Poller.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>
#include <vector>

namespace qx200::pjlink {

// A request line without its end: header, command, a blank and at most 128 bytes of parameter.
inline constexpr qsizetype MaxRequestBytes = 136;
// The authentication digest in front of a request: 32 hexadecimal characters.
inline constexpr qsizetype DigestChars = 32;

enum class Error { Undefined = 1, OutOfParameter = 2, Unavailable = 3, Failure = 4 };

// "ERR1" ... "ERR4".
QByteArray errorText(Error error);

struct Request {
    char cls = '1';
    QByteArray command; // four characters, upper case
    QByteArray parameter;
    friend bool operator==(const Request&, const Request&) = default;
};

// A request line (without its carriage return and digest): "%1POWR 1", "%1powr ?", "%1INPT 31 ".
// Nothing when it is no request at all.
std::optional<Request> parseRequest(QByteArrayView line);

// The reply line to a request: "%1POWR=OK\r".
QByteArray replyLine(const Request& request, QByteArrayView body);

// The greeting a connection opens with: "PJLINK 0\r", or "PJLINK 1 <random>\r".
QByteArray greeting(const std::optional<QByteArray>& random);
inline constexpr char AuthenticationError[] = "PJLINK ERRA\r";

// The digest a controller proves the password with: MD5 of the random text followed directly
// by the password, in lower-case hexadecimal.
QByteArray digestOf(QByteArrayView random, QByteArrayView password);

// Whether a digest that a controller sent proves the password. Also takes the digest that some
// controllers compute with a blank between random and password, and upper-case hexadecimal.
bool digestMatches(QByteArrayView sent, QByteArrayView random, QByteArrayView password);

// A stable, locally administered hardware address made from the projector's name, as search
// answers give it: "02:1A:2B:3C:4D:5E".
QByteArray hardwareAddressOf(const QString& projector);

// The answer to a search datagram ("%2SRCH", leniently), or nothing for any other datagram.
std::optional<QByteArray> searchAnswer(QByteArrayView datagram, QByteArrayView hardwareAddress);

// The texts and input codes a projector answers with, defaults filled in.
struct Identity {
    QByteArray name;
    QByteArray manufacturer;
    QByteArray model;
    QByteArray info;
    std::array<QByteArray, 4> inputs; // in the order of InputSource
    // Whether the picture is frozen, as the lines written to the projector tell (it has no
    // query for it).
    bool frozen = false;
};

Identity identityOf(const ProjectorConfig& projector);

// Whether the command is one this projector knows (POWR, INPT...).
bool knownCommand(QByteArrayView command);

// What one request asks for: an answer now, command lines to write in order (the reply is OK
// when the projector acknowledges each), or the readings that answerQuery() needs.
struct Plan {
    std::optional<QByteArray> body;
    std::vector<QByteArray> lines;
    std::vector<StatusQuery> queries;
};

Plan plan(const Request& request, const Identity& identity);

// The reply body of a query request from the readings of its plan's queries; ERR4 when a
// reading it needs is missing (the projector's reply could not be read).
QByteArray answerQuery(const Request& request, const Readings& readings, const Identity& identity);

} // namespace qx200::pjlink
