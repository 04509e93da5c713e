#include "protocol/TraceRendering.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

namespace qx200 {

namespace {

struct Piece {
    char text[4];
    unsigned char size;
};

// The rule, tested in this order: the named control codes, then the printable range, then "? ".
constexpr Piece pieceFor(unsigned char byte)
{
    switch (byte) {
    case 6:
        return {{'A', 'C', 'K', ' '}, 4};
    case 20:
        return {{'&'}, 1};
    case 13:
        return {{'C', 'R', ' '}, 3};
    case 10:
        return {{'L', 'F', ' '}, 3};
    default:
        break;
    }
    if (byte >= 32 && byte <= 122)
        return {{static_cast<char>(byte), ' '}, 2};
    return {{'?', ' '}, 2};
}

constexpr std::array<Piece, 256> makePieces()
{
    std::array<Piece, 256> pieces{};
    for (unsigned value = 0; value < 256; ++value)
        pieces[value] = pieceFor(static_cast<unsigned char>(value));
    return pieces;
}

constexpr std::array<Piece, 256> Pieces = makePieces();

// Whether a view points into the storage of an array (std::less gives a total pointer order).
bool overlaps(QByteArrayView view, const QByteArray& array)
{
    const std::less<const char*> before;
    const char* const first = array.constData();
    return !view.isEmpty() && !before(view.data(), first) &&
           before(view.data(), first + array.size());
}

} // namespace

QByteArrayView tracePiece(unsigned char byte)
{
    const Piece& piece = Pieces[byte];
    return QByteArrayView(piece.text, piece.size);
}

void appendTracePieces(QByteArray& rendering, QByteArrayView bytes)
{
    // Two passes: size the result exactly, then copy the pieces straight into it.
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    qsizetype added = 0;
    for (const auto* p = begin; p != end; ++p)
        added += Pieces[*p].size;
    if (added == 0)
        return;
    if (overlaps(bytes, rendering)) {
        // The bytes lie inside the rendering itself, which the resize may move: work on a copy.
        appendTracePieces(rendering, bytes.toByteArray());
        return;
    }

    const qsizetype oldSize = rendering.size();
    rendering.resize(oldSize + added);
    char* out = rendering.data() + oldSize;
    char* const limit = out + added;
    // Pieces are copied as four bytes and the end advanced by their size while four bytes fit;
    // the last few exactly.
    const auto* p = begin;
    for (; p != end && limit - out >= 4; ++p) {
        const Piece& piece = Pieces[*p];
        std::memcpy(out, piece.text, sizeof piece.text);
        out += piece.size;
    }
    for (; p != end; ++p) {
        const Piece& piece = Pieces[*p];
        std::memcpy(out, piece.text, piece.size);
        out += piece.size;
    }
}

QByteArray renderTrace(QByteArrayView bytes)
{
    QByteArray rendering(1, ' ');
    appendTracePieces(rendering, bytes);
    return rendering;
}

RenderedText::RenderedText() : rendering_(1, ' ') {}

void RenderedText::append(QByteArrayView bytes)
{
    if (overlaps(bytes, bytes_) || overlaps(bytes, rendering_)) {
        append(bytes.toByteArray()); // both arrays may move below
        return;
    }
    received_ += bytes.size();
    const qsizetype room = MaxRenderedBytes - bytes_.size();
    const QByteArrayView kept = bytes.first(std::min(room, bytes.size()));
    if (kept.isEmpty())
        return;
    bytes_.append(kept);
    appendTracePieces(rendering_, kept);
}

void RenderedText::clear()
{
    // Keeps the storage: the next reply window fills it again.
    bytes_.resize(0);
    rendering_.resize(1);
    rendering_[0] = ' ';
    received_ = 0;
    mark_ = 1;
}

} // namespace qx200
