#include "serial/QtSerialPort.h"
#include "serial/Logging.h"

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

QtSerialPort::QtSerialPort(DeviceLookup deviceFor, QObject* parent)
    : QObject(parent), deviceFor_(std::move(deviceFor))
{
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &QtSerialPort::retry);
    settle_.setSingleShot(true);
    settle_.setInterval(SettleMs);
    connect(&settle_, &QTimer::timeout, this, &QtSerialPort::settled);
}

QtSerialPort::~QtSerialPort()
{
    if (link_)
        link_->close();
}

QString QtSerialPort::name() const
{
    return QStringLiteral("COM%1 (%2)").arg(commPort_).arg(Device());
}

void QtSerialPort::fail(const QString& what) const
{
    throw PortError(name() + ": " + what);
}

void QtSerialPort::CommPort(std::int16_t port)
{
    if (open_)
        fail(QStringLiteral("port already open"));
    if (port < 1)
        throw PortError(QStringLiteral("COM%1: invalid port number").arg(port));
    commPort_ = port;
}

// Applied first and kept only when the device took them, so that the service never holds
// settings its device does not have.
void QtSerialPort::Settings(const QByteArray& settings)
{
    const auto parsed = parseSettings(settings);
    if (!parsed)
        fail(QStringLiteral("invalid settings \"%1\"").arg(QString::fromLatin1(settings)));
    if (open_) {
        try {
            link_->apply(*parsed);
        } catch (const PortError& error) {
            fail(error.text());
        }
    }
    settings_ = *parsed;
}

void QtSerialPort::PortOpen(bool open)
{
    if (!open) {
        retry_.stop();
        settle_.stop();
        held_ = false;
        if (link_)
            link_->close();
        queue_.clear();
        queue_.takeDropped();
        open_ = up_ = false;
        notice_ = Notice::None;
        return;
    }
    if (open_)
        fail(QStringLiteral("port already open"));
    QString malformed;
    const auto address = parseDeviceAddress(Device(), &malformed);
    if (!address)
        throw PortError(QStringLiteral("COM%1: %2").arg(commPort_).arg(malformed));

    link_ = makeLink(*address, lockDirectories);
    connect(link_.get(), &DeviceLink::up, &settle_, qOverload<>(&QTimer::start));
    connect(link_.get(), &DeviceLink::failed, this, &QtSerialPort::linkFailed);
    connect(link_.get(), &DeviceLink::writable, this, &QtSerialPort::drain);
    connect(link_.get(), &DeviceLink::readyRead, this, &QtSerialPort::arrived);
    backoffMs_ = ReconnectMs;
    if (link_->immediate()) {
        try {
            link_->open(settings_);
        } catch (const PortError& error) {
            fail(error.text());
        }
        up_ = true;
    } else {
        link_->open(settings_);
    }
    open_ = true;
}

void QtSerialPort::arrived()
{
    if (!up_) {
        held_ = true; // a connection on trial: handed over once it has settled
        return;
    }
    event_ = ReceiveEvent;
    if (OnComm)
        OnComm();
}

// A serial server accepts a connection even when its device cannot be opened, says so and
// hangs up. A connection that has lasted a while is taken as the device being back.
void QtSerialPort::settled()
{
    linkUp();
    if (std::exchange(held_, false))
        arrived();
}

void QtSerialPort::linkUp()
{
    up_ = true;
    backoffMs_ = ReconnectMs;
    if (notice_ == Notice::Lost)
        endNotice();
}

// The device went away, or could not be reached: closed (after the link's own signal has
// returned), told once, and tried again.
void QtSerialPort::linkFailed(const QString& reason)
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
        tell(name() + ": " +
             (said.isEmpty()
                  ? reason
                  : QStringLiteral("the serial server refused the connection: %1").arg(said)));
    }
    scheduleRetry();
}

void QtSerialPort::scheduleRetry()
{
    if (link_->immediate()) {
        retry_.start(ReconnectMs);
        return;
    }
    retry_.start(backoffMs_);
    backoffMs_ = std::min(2 * backoffMs_, MaxBackoffMs);
}

void QtSerialPort::retry()
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

void QtSerialPort::Output(const QByteArray& bytes)
{
    if (!open_)
        fail(QStringLiteral("port not open"));
    if (!up_)
        return; // the device is away for now; the line goes nowhere, as on a cut cable
    if (!queue_.push(bytes)) {
        lineDropped();
        return;
    }
    drain();
}

// Hands the device what it takes now; the rest waits for it to take more.
void QtSerialPort::drain()
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

void QtSerialPort::lineDropped()
{
    notice_ = Notice::NotReading;
    if (droppedToTell_)
        return;
    // Told once the event loop comes round, with the count as it is then: a fast repeat drops
    // many lines between two turns.
    droppedToTell_ = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::showDropped, Qt::QueuedConnection);
}

void QtSerialPort::showDropped()
{
    droppedToTell_ = false;
    if (notice_ != Notice::NotReading)
        return;
    tell(name() +
         QStringLiteral(": device not reading, %1 line(s) not sent").arg(queue_.dropped()));
    if (queue_.empty())
        endNotice();
}

void QtSerialPort::endNotice()
{
    notice_ = Notice::None;
    queue_.takeDropped();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (OnRecover)
                OnRecover();
        },
        Qt::QueuedConnection);
}

// Told after the signal at hand has returned, so that a message box's own event loop never runs
// inside a device's notification.
void QtSerialPort::tell(const QString& text)
{
    QMetaObject::invokeMethod(
        this,
        [this, text] {
            if (OnFault)
                OnFault(text);
        },
        Qt::QueuedConnection);
}

QByteArray QtSerialPort::Input()
{
    event_ = 0;
    return link_ ? link_->readAll() : QByteArray();
}

} // namespace qx200
