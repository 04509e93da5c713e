#include "serial/OutputQueue.h"

#include <utility>

namespace qx200 {

bool OutputQueue::push(const QByteArray& line)
{
    if (line.isEmpty())
        return true; // nothing to send, nothing to wait for
    if (!lines_.empty() && bytes_ + line.size() > Capacity) {
        ++dropped_;
        return false;
    }
    lines_.push_back(line);
    bytes_ += line.size();
    return true;
}

QByteArrayView OutputQueue::head() const
{
    return lines_.empty() ? QByteArrayView() : QByteArrayView(lines_.front()).sliced(sent_);
}

void OutputQueue::consume(qsizetype count)
{
    sent_ += count;
    bytes_ -= count;
    if (sent_ == lines_.front().size()) {
        lines_.pop_front();
        sent_ = 0;
    }
}

qint64 OutputQueue::takeDropped()
{
    return std::exchange(dropped_, 0);
}

void OutputQueue::clear()
{
    lines_.clear();
    sent_ = 0;
    bytes_ = 0;
}

} // namespace qx200
