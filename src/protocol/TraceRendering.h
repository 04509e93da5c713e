#pragma once

// How every byte on the line is shown in the traces: a leading space, then one piece per byte
// (6 "ACK ", 20 "&", 13 "CR ", 10 "LF ", 32..122 the character and a space, any other "? ").

#include <QByteArray>
#include <QByteArrayView>

namespace qx200 {

// At most this many received bytes are ever rendered or decoded; a label could never show more.
inline constexpr qsizetype MaxRenderedBytes = 32767;

// The piece one byte renders to.
QByteArrayView tracePiece(unsigned char byte);

// Appends the pieces of the bytes to a rendering, without the leading space.
void appendTracePieces(QByteArray& rendering, QByteArrayView bytes);

// The whole rendering: " " followed by the pieces of every byte.
QByteArray renderTrace(QByteArrayView bytes);

// A growing collection of received bytes together with its rendering, so that each arrival
// renders only its own bytes. Bytes past MaxRenderedBytes are counted but neither kept nor
// rendered, which keeps memory bounded under a flood.
// The rendering of the bytes whose pieces start at `from` in a rendering (1: all of them).
inline QByteArray renderingFrom(const QByteArray& rendering, qsizetype from)
{
    return from <= 1 ? rendering : ' ' + rendering.mid(from);
}

class RenderedText {
public:
    RenderedText();
    void append(QByteArrayView bytes);
    // Empties the text, and forgets the mark.
    void clear();
    // Marks the end of what is kept so far: renderingFrom(rendering(), markAt()) is then the
    // rendering of what came after it, as renderTrace gives it for those bytes alone.
    void mark() { mark_ = rendering_.size(); }
    // Where the mark is in rendering(), for renderingFrom().
    qsizetype markAt() const { return mark_; }
    const QByteArray& bytes() const { return bytes_; }         // the first MaxRenderedBytes
    const QByteArray& rendering() const { return rendering_; } // renderTrace(bytes())
    qint64 received() const { return received_; }              // every byte appended since clear
    bool isEmpty() const { return received_ == 0; }

    // Compares the kept bytes.
    friend bool operator==(const RenderedText& text, QByteArrayView bytes)
    {
        return QByteArrayView(text.bytes_) == bytes;
    }

private:
    QByteArray bytes_;
    QByteArray rendering_;
    qint64 received_ = 0;
    qsizetype mark_ = 1; // in rendering_, after its leading space
};

} // namespace qx200
