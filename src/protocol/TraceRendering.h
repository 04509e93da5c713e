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
class RenderedText {
public:
    RenderedText();
    void append(QByteArrayView bytes);
    void clear();
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
};

} // namespace qx200
