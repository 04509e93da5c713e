#pragma once

// A gzip body made of a part compressed once and a tail compressed per use: the page that changes
// once a round is compressed when it changes, the few lines that change on every scrape are
// compressed then, and the two make one gzip member.

#include <QByteArray>
#include <QByteArrayView>

namespace qx200 {

struct GzipPrefix {
    QByteArray deflated; // raw deflate blocks ending on a byte boundary, not final
    unsigned long crc = 0;
    qint64 size = 0;
};

// Compresses the text as the start of a gzip member.
GzipPrefix gzipPrefix(QByteArrayView text);

// The whole gzip member: the prefix's text followed by the tail.
QByteArray gzipMember(const GzipPrefix& prefix, QByteArrayView tail);

// Whether an Accept-Encoding header takes gzip ("gzip", "deflate, gzip;q=1.0", not "gzip;q=0").
bool acceptsGzip(QByteArrayView acceptEncoding);

} // namespace qx200
