// Fuzz target for the trace rendering and the status decoding: properties that must hold for
// any bytes the line can bring.
//
// The readings of every query run beside the console's decoding on the same text and must agree
// with it.
//
// Input: one control byte, then the received bytes. The control byte picks the command line
// last sent (one of the status queries, or a plain command), where the bytes are split in two,
// and whether the collection is fed past its limit.

#include "protocol/StatusDecoding.h"
#include "protocol/StatusReading.h"
#include "protocol/TraceRendering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace {

using namespace qx200;

void require(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "property broken: %s\n", what);
        std::abort();
    }
}

// The rendering rule written out again, apart from the table the code uses.
QByteArray expectedPiece(unsigned char byte)
{
    if (byte == 6)
        return "ACK ";
    if (byte == 20)
        return "&";
    if (byte == 13)
        return "CR ";
    if (byte == 10)
        return "LF ";
    if (byte >= 32 && byte <= 122)
        return QByteArray(1, char(byte)) + ' ';
    return "? ";
}

// A text in a heap block of exactly its size, so that the sanitizer catches any read beyond it.
class ExactCopy {
public:
    explicit ExactCopy(QByteArrayView text)
        : size_(text.size()), data_(std::make_unique<char[]>(std::size_t(size_)))
    {
        if (size_ > 0)
            std::memcpy(data_.get(), text.data(), std::size_t(size_));
    }
    QByteArrayView view() const { return QByteArrayView(data_.get(), size_); }

private:
    qsizetype size_;
    std::unique_ptr<char[]> data_;
};

// The numeric reading of a text, done another way: drop every blank, tab and line feed, take
// the longest number at the start, and let the C library convert it.
double referenceNumber(QByteArrayView text)
{
    std::string s;
    for (const char c : text) {
        if (c != ' ' && c != '\t' && c != '\n')
            s += c;
    }
    auto digit = [&](std::size_t i) { return i < s.size() && s[i] >= '0' && s[i] <= '9'; };
    std::string number;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        number += s[i++];
    bool anyDigit = false;
    for (; digit(i); ++i, anyDigit = true)
        number += s[i];
    if (i < s.size() && s[i] == '.') {
        number += s[i++];
        for (; digit(i); ++i, anyDigit = true)
            number += s[i];
    }
    if (!anyDigit)
        return 0.0;
    if (i < s.size() && (s[i] == 'E' || s[i] == 'e' || s[i] == 'D' || s[i] == 'd')) {
        std::size_t j = i + 1;
        std::string exponent = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            exponent += s[j++];
        if (digit(j)) {
            for (; digit(j); ++j)
                exponent += s[j];
            number += exponent;
        }
    }
    return std::strtod(number.c_str(), nullptr);
}

// Rounds half to even in a type far wider than 16 bits; nothing when not even that holds it.
std::optional<long long> wideRound(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e18)
        return std::nullopt;
    return static_cast<long long>(std::nearbyint(value)); // default mode: halves to even
}

bool fitsInt16(long long value)
{
    return value >= std::numeric_limits<std::int16_t>::min() &&
           value <= std::numeric_limits<std::int16_t>::max();
}

// The pressure a reply gives, worked out with every intermediate in a wider type; nothing where
// a 16-bit step would overflow.
std::optional<long long> referencePressure(QByteArrayView rendered)
{
    const std::optional<long long> reading = wideRound(referenceNumber(rendered));
    if (!reading || !fitsInt16(*reading))
        return std::nullopt;
    const long long scaled = *reading * 5;
    if (!fitsInt16(scaled))
        return std::nullopt;
    const std::optional<long long> hPa =
        wideRound(((double(scaled) / 1024.0) - 0.204) / 0.00459 + 150);
    if (!hPa || !fitsInt16(*hPa))
        return std::nullopt;
    return hPa;
}

// Every query's reading of the text agrees with the console's status line for the same text: a
// value is only ever given where the console shows the same reply.
void checkReadings(QByteArrayView text)
{
    const ExactCopy t(text);
    for (const StatusQuery query :
         {StatusQuery::Power, StatusQuery::Input, StatusQuery::Orientation, StatusQuery::LampHours,
          StatusQuery::Temperatures, StatusQuery::Mute, StatusQuery::Raw, StatusQuery::Pressure,
          StatusQuery::LampMode}) {
        std::optional<StatusReading> reading;
        try {
            reading = readStatus(query, t.view());
        } catch (...) {
            require(false, "the reading threw");
        }
        if (!reading)
            continue;
        const QByteArray line = queryCode(query).toByteArray() + '\r';
        const std::optional<StatusResult> console =
            decodeStatus(line, QByteArrayView(""), t.view());
        require(console.has_value(), "a reading only where the console shows a status");
        require(console->status == reading->status, "the reading's text is the console's");
        if (const auto* pressure = std::get_if<Pressure>(&reading->value))
            require(console->pressureValue == pressure->hPa, "the reading's pressure");
    }
}

constexpr std::array<const char*, 10> CommandLines{"CR0\r",         "CR1\r", "CR3\r", "CR4\r",
                                                   "CR6\r",         "CR7\r", "CRA\r", "CR9\r",
                                                   "CR PRESSURE\r", "C00\r"};
constexpr std::size_t PressureLine = 8;

void checkDecoding(QByteArrayView cmdLine, bool pressureQuery, QByteArrayView text)
{
    const ExactCopy t(text);
    std::optional<StatusResult> result;
    try {
        result = decodeStatus(cmdLine, QByteArrayView(""), t.view());
    } catch (...) {
        require(false, "the decoding threw");
    }
    if (!pressureQuery)
        return;
    const std::optional<long long> expected = referencePressure(t.view());
    require(result.has_value() == expected.has_value(),
            "a pressure was shown exactly when the arithmetic fits 16 bits");
    if (result) {
        require(result->pressureValue && *result->pressureValue == *expected,
                "the pressure value equals the formula in a wider type");
        require(result->status == QByteArray::number(*expected) + " hPa",
                "the pressure text equals the formula in a wider type");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const unsigned control = data[0];
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // The rendering is the leading space and exactly one piece per byte, by the rule.
    QByteArray expected(1, ' ');
    for (const char byte : bytes) {
        const QByteArray piece = expectedPiece(static_cast<unsigned char>(byte));
        require(tracePiece(static_cast<unsigned char>(byte)) == piece, "the piece of a byte");
        expected += piece;
    }
    const QByteArray rendered = renderTrace(bytes);
    require(rendered == expected, "the rendering is the pieces of the bytes");

    // Rendering a concatenation equals concatenating the renderings, less the second's leading
    // space; appending to a rendering gives the same.
    const qsizetype split = bytes.size() * qsizetype(control % 64) / 63;
    const QByteArrayView first = bytes.first(split);
    const QByteArrayView second = bytes.sliced(split);
    require(renderTrace(first) + renderTrace(second).sliced(1) == rendered,
            "the rendering of a concatenation");
    QByteArray grown = renderTrace(first);
    appendTracePieces(grown, second);
    require(grown == rendered, "appending pieces to a rendering");

    // A collection fed in pieces keeps the first bytes it can show and their rendering; fed far
    // past its limit (the bytes repeated to some 40 KiB), it keeps no more.
    QByteArray block = bytes.toByteArray();
    int rounds = 1;
    if ((control & 0x70) == 0x70 && !bytes.isEmpty()) {
        while (block.size() < 4096)
            block += block;
        rounds = 10;
    }
    const qsizetype blockSplit = block.size() * qsizetype(control % 64) / 63;
    RenderedText collection;
    QByteArray fed;
    for (int round = 0; round < rounds; ++round) {
        collection.append(QByteArrayView(block).first(blockSplit));
        collection.append(QByteArrayView(block).sliced(blockSplit));
        fed += block;
    }
    require(collection.received() == fed.size(), "the collection counts every byte");
    require(collection.bytes() == fed.first(std::min(fed.size(), MaxRenderedBytes)),
            "the collection keeps the first bytes it can show");
    require(collection.rendering() == renderTrace(collection.bytes()),
            "the collection's rendering");

    // Appending bytes that lie in the destination's own storage works as with a copy.
    const QByteArray kept = collection.bytes();
    const qsizetype again = std::min(split, kept.size());
    collection.append(QByteArrayView(collection.bytes()).first(again));
    require(collection.bytes() ==
                (kept + kept.first(again)).first(std::min(kept.size() + again, MaxRenderedBytes)),
            "appending a collection's own bytes");
    require(collection.rendering() == renderTrace(collection.bytes()),
            "the rendering after appending a collection's own bytes");
    QByteArray own = rendered;
    appendTracePieces(own, QByteArrayView(own).first(std::min(split, own.size())));
    require(own ==
                rendered + renderTrace(rendered.first(std::min(split, rendered.size()))).sliced(1),
            "appending the pieces of a rendering's own text");

    // The decoding, after the command line the control byte picks, of the rendering (what the
    // receive trace shows) and of the raw bytes (any text at all).
    const std::size_t line = (control >> 7) ? PressureLine : control % CommandLines.size();
    const QByteArrayView cmdLine(CommandLines[line]);
    checkDecoding(cmdLine, line == PressureLine, rendered);
    checkDecoding(cmdLine, line == PressureLine, bytes);
    checkReadings(rendered);
    checkReadings(bytes);
    return 0;
}
