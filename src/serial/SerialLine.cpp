#include "serial/SerialLine.h"
#include "serial/Logging.h"
#include "serial/SerialPort.h"

#include <algorithm>
#include <utility>

namespace qx200 {
namespace {

// The first line of what a server said before hanging up, printable characters only.
QString serverSaid(const QByteArray& bytes)
{
    constexpr qsizetype MaxLength = 120;
    QString text;
    for (const char c : bytes) {
        if (c == '\r' || c == '\n' || text.size() == MaxLength)
            break;
        text += (c >= ' ' && c <= '~') ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return text.trimmed();
}

} // namespace

SerialLine::SerialLine(QObject* parent) : QObject(parent)
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &SerialLine::retry);
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &SerialLine::settled);
}

SerialLine::~SerialLine()
{
    if (link_)
        link_->close();
}

QString SerialLine::open(const DeviceAddress& address, const LineSettings& settings)
{
    close();
    settings_ = settings;
    link_ = makeLink(address, lockDirectories);
    connect(link_.get(), &DeviceLink::up, &settle_, qOverload<>(&QTimer::start));
    connect(link_.get(), &DeviceLink::failed, this, &SerialLine::linkFailed);
    connect(link_.get(), &DeviceLink::writable, this, &SerialLine::drain);
    connect(link_.get(), &DeviceLink::readyRead, this, &SerialLine::arrived);
    connect(link_.get(), &DeviceLink::told, this, &SerialLine::told, Qt::QueuedConnection);
    backoffMs_ = ReconnectMs;
    if (link_->immediate()) {
        try {
            link_->open(settings_);
        } catch (const PortError& error) {
            return error.text();
        }
        up_ = true;
    } else {
        link_->open(settings_);
    }
    open_ = true;
    return {};
}

void SerialLine::close()
{
    retry_.stop();
    settle_.stop();
    held_ = false;
    if (link_)
        link_->close();
    queue_.clear();
    queue_.takeDropped();
    open_ = up_ = reached_ = false;
    notice_ = Notice::None;
}

// Applied first and kept only when the device took them, so that the line never holds settings
// its device does not have.
QString SerialLine::apply(const LineSettings& settings)
{
    if (open_) {
        try {
            link_->apply(settings);
        } catch (const PortError& error) {
            return error.text();
        }
    }
    settings_ = settings;
    return {};
}

void SerialLine::arrived()
{
    if (!up_) {
        held_ = true; // a connection on trial: handed over once it has settled
        return;
    }
    emit received();
}

// A serial server accepts a connection even when its device cannot be opened, says so and
// hangs up. A connection that has lasted a while is taken as the device being back.
void SerialLine::settled()
{
    if (notice_ != Notice::Lost && !std::exchange(reached_, true))
        QMetaObject::invokeMethod(
            this, [this] { emit connected(); }, Qt::QueuedConnection);
    linkUp();
    if (std::exchange(held_, false))
        arrived();
}

void SerialLine::linkUp()
{
    up_ = true;
    backoffMs_ = ReconnectMs;
    if (notice_ == Notice::Lost)
        endNotice();
}

// The device went away, or could not be reached: closed (after the link's own signal has
// returned), told once, and tried again.
void SerialLine::linkFailed(const QString& reason)
{
    if (!open_)
        return;
    const bool wasUp = std::exchange(up_, false);
    settle_.stop();
    held_ = false;
    const QString said = wasUp ? QString() : serverSaid(link_->readAll());
    queue_.clear(); // stale lines are not sent to a device that comes back
    queue_.takeDropped();
    QMetaObject::invokeMethod(link_.get(), &DeviceLink::close, Qt::QueuedConnection);
    if (notice_ != Notice::Lost) {
        notice_ = Notice::Lost;
        const QString text =
            said.isEmpty()
                ? reason
                : QStringLiteral("the serial server refused the connection: %1").arg(said);
        QMetaObject::invokeMethod(
            this, [this, text] { emit lost(text); }, Qt::QueuedConnection);
    }
    scheduleRetry();
}

void SerialLine::scheduleRetry()
{
    if (link_->immediate()) {
        retry_.start(ReconnectMs);
        return;
    }
    retry_.start(backoffMs_);
    backoffMs_ = std::min(2 * backoffMs_, MaxBackoffMs);
}

void SerialLine::retry()
{
    if (!open_ || up_)
        return;
    if (!link_->immediate()) {
        link_->open(settings_); // up() or failed() follows
        return;
    }
    try {
        link_->open(settings_);
        linkUp();
    } catch (const PortError& error) {
        qCDebug(logSerial) << "reconnecting:" << error.text();
        scheduleRetry(); // not back yet
    }
}

void SerialLine::write(const QByteArray& bytes)
{
    if (!up_)
        return; // the device is away for now; the line goes nowhere, as on a cut cable
    if (!queue_.push(bytes)) {
        lineDropped();
        return;
    }
    drain();
}

// Hands the device what it takes now; the rest waits for it to take more.
void SerialLine::drain()
{
    while (up_ && !queue_.empty()) {
        const QByteArrayView head = queue_.head();
        const qint64 taken = link_->write(head);
        if (taken < 0 || !up_)
            return; // the link failed, also from inside write(), and the queue was emptied
        queue_.consume(taken);
        if (taken < head.size())
            return;
    }
    if (queue_.empty() && notice_ == Notice::NotReading && !droppedToTell_)
        endNotice();
}

void SerialLine::lineDropped()
{
    notice_ = Notice::NotReading;
    if (droppedToTell_)
        return;
    // Told once the event loop comes round, with the count as it is then: a fast repeat drops
    // many lines between two turns.
    droppedToTell_ = true;
    QMetaObject::invokeMethod(this, &SerialLine::showDropped, Qt::QueuedConnection);
}

void SerialLine::showDropped()
{
    droppedToTell_ = false;
    if (notice_ != Notice::NotReading)
        return;
    emit dropped(queue_.dropped());
    if (queue_.empty())
        endNotice();
}

void SerialLine::endNotice()
{
    notice_ = Notice::None;
    queue_.takeDropped();
    QMetaObject::invokeMethod(
        this, [this] { emit back(); }, Qt::QueuedConnection);
}

QByteArray SerialLine::readAll()
{
    return link_ ? link_->readAll() : QByteArray();
}

} // namespace qx200
