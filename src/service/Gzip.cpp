#include "service/Gzip.h"

#include <QList>
#include <zlib.h>

namespace qx200 {

namespace {

// Raw deflate (no header) of the text, ending with `flush`.
QByteArray deflated(QByteArrayView text, int flush)
{
    z_stream stream{};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(qsizetype(deflateBound(&stream, uLong(text.size()))) + 16, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    stream.avail_in = uInt(text.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, flush);
    out.truncate(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

void appendLittleEndian(QByteArray& out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out += char((value >> (8 * i)) & 0xff);
}

} // namespace

GzipPrefix gzipPrefix(QByteArrayView text)
{
    // A full flush ends the blocks on a byte boundary without back references past it, so a
    // separately compressed tail can follow.
    return {deflated(text, Z_FULL_FLUSH),
            crc32(0, reinterpret_cast<const Bytef*>(text.data()), uInt(text.size())), text.size()};
}

QByteArray gzipMember(const GzipPrefix& prefix, QByteArrayView tail)
{
    static const char Header[] = {'\x1f', '\x8b', 8, 0, 0, 0, 0, 0, 0, 3}; // deflate, Unix
    QByteArray out(Header, sizeof Header);
    out += prefix.deflated;
    out += deflated(tail, Z_FINISH);
    const uLong tailCrc = crc32(0, reinterpret_cast<const Bytef*>(tail.data()), uInt(tail.size()));
    appendLittleEndian(out, quint32(crc32_combine(prefix.crc, tailCrc, z_off_t(tail.size()))));
    appendLittleEndian(out, quint32(prefix.size + tail.size()));
    return out;
}

bool acceptsGzip(QByteArrayView acceptEncoding)
{
    for (const QByteArray& item : acceptEncoding.toByteArray().split(',')) {
        const QList<QByteArray> parts = item.split(';');
        const QByteArray coding = parts.first().trimmed().toLower();
        if (coding != "gzip" && coding != "*")
            continue;
        const QByteArray weight = parts.size() > 1 ? parts[1].trimmed().toLower() : "q=1";
        if (weight.startsWith("q=") && weight.mid(2).toDouble() > 0)
            return true;
    }
    return false;
}

} // namespace qx200
