#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <deque>

namespace qx200 {

// The lines waiting for a device that reads slower than the console sends, bounded in bytes.
// A line is taken whole or not at all, and once its first byte is out its rest goes before
// anything else, so the device never sees part of a line.
class OutputQueue {
public:
    static constexpr qsizetype Capacity = 64 * 1024;

    // False, and the line counted as dropped, when it does not fit. A line always fits an empty
    // queue, however long.
    bool push(const QByteArray& line);
    bool empty() const { return lines_.empty(); }
    qsizetype bytes() const { return bytes_; }
    // What is still to go of the first line.
    QByteArrayView head() const;
    // The device took this many bytes of head().
    void consume(qsizetype count);
    // Lines dropped since the count was last taken.
    qint64 dropped() const { return dropped_; }
    qint64 takeDropped();
    void clear();

private:
    std::deque<QByteArray> lines_;
    qsizetype sent_ = 0; // of the first line
    qsizetype bytes_ = 0;
    qint64 dropped_ = 0;
};

} // namespace qx200
