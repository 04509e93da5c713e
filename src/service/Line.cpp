#include "service/Line.h"

#include "protocol/TraceRendering.h"
#include "serial/DeviceAddress.h"

#include <QPointer>
#include <algorithm>

namespace qx200 {

namespace {

constexpr char Cr = '\r';
constexpr char Ack = '\x06';
constexpr int ReopenMs = 1000;

// Operator lines held behind an exchange in flight; a console that sends more meanwhile loses the
// oldest, as a device that stops reading would.
constexpr std::size_t MaxOperatorWaiting = 256;

// Where a reply ends in what arrived: after its carriage return, or after a leading
// acknowledgement (the projector's whole answer to a control command). -1 while it goes on.
qsizetype replyEnd(const QByteArray& bytes)
{
    if (bytes.startsWith(Ack))
        return 1;
    const qsizetype cr = bytes.indexOf(Cr);
    return cr < 0 ? -1 : cr + 1;
}

LineSettings settingsFor(qint32 speed)
{
    LineSettings settings;
    settings.baud = speed;
    return settings;
}

} // namespace

Line::Line(ProjectorConfig config, LineTiming timing, QObject* parent)
    : QObject(parent), config_(std::move(config)), timing_(timing)
{
    connect(&serial_, &SerialLine::received, this, &Line::arrived);
    connect(&serial_, &SerialLine::lost, this, &Line::deviceLost);
    connect(&serial_, &SerialLine::dropped, this, [this](qint64 lines) {
        fault_ = name() + QStringLiteral(": device not reading, %1 line(s) not sent").arg(lines);
    });
    connect(&serial_, &SerialLine::back, this, &Line::deviceBack);
    connect(&serial_, &SerialLine::told, this, [this](const QString& text) {
        note_ = name() + ": " + text;
        emit told(note_);
    });

    // Precise: a coarse timer may end a reply window up to 5 % early.
    replyTimer_.setTimerType(Qt::PreciseTimer);
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(timing_.replyWindow);
    connect(&replyTimer_, &QTimer::timeout, this, &Line::replyWindowTick);
    paceTimer_.setTimerType(Qt::PreciseTimer);
    paceTimer_.setSingleShot(true);
    paceTimer_.setInterval(timing_.pace);
    connect(&paceTimer_, &QTimer::timeout, this, &Line::paceTick);
    quietTimer_.setSingleShot(true);
    quietTimer_.setTimerType(Qt::PreciseTimer);
    connect(&quietTimer_, &QTimer::timeout, this, &Line::quietTick);
    openTimer_.setSingleShot(true);
    openTimer_.setInterval(ReopenMs);
    connect(&openTimer_, &QTimer::timeout, this, &Line::tryOpen);
}

Line::~Line() = default;

QString Line::name() const
{
    return QStringLiteral("%1 (%2)").arg(config_.name, config_.device);
}

void Line::open()
{
    tryOpen();
}

// A device that cannot be opened at all (a tty not there yet) is told once and tried again; once
// open, the serial line itself recovers from a device that goes away.
void Line::tryOpen()
{
    QString malformed;
    const auto address = parseDeviceAddress(config_.device, &malformed);
    const QString failed = address ? serial_.open(*address, settingsFor(config_.speed)) : malformed;
    if (failed.isEmpty()) {
        if (!fault_.isEmpty())
            deviceBack();
        return;
    }
    const bool told = !fault_.isEmpty();
    fault_ = name() + ": " + failed;
    if (!told)
        emit lost(fault_);
    openTimer_.start();
    scheduleNext(); // whoever waits learns the device is not there
}

bool Line::ready() const
{
    return serial_.ready();
}

void Line::submit(const QByteArray& line, const Origin& origin, Done done)
{
    const auto refuse = [this, &done](const QString& reason) {
        QMetaObject::invokeMethod(
            this,
            [done, reason] {
                done(Reply{Reply::Outcome::Refused, {}, {}, reason});
            },
            Qt::QueuedConnection);
    };
    if (origin.priority == Priority::Controller) {
        if (const auto reason = refusalFor(line, power_)) {
            refuse(config_.name + ": " + *reason);
            return;
        }
    }
    if (queue_.size() >= MaxWaitingRequests) {
        refuse(config_.name + QStringLiteral(": too many requests waiting"));
        return;
    }
    Request request{line, origin, std::move(done), {}};
    request.queued.start();
    queue_.push_back(std::move(request));
    scheduleNext();
}

bool Line::attach(const QString& peer)
{
    if (operatorAttached() || peer.isEmpty())
        return false;
    operatorPeer_ = peer;
    operatorClock_.invalidate();
    emit operatorChanged();
    return true;
}

void Line::detach()
{
    if (!operatorAttached())
        return;
    operatorPeer_.clear();
    operatorWaiting_.clear();
    operatorClock_.invalidate();
    quietTimer_.stop();
    emit operatorChanged();
    scheduleNext();
}

bool Line::operatorActive() const
{
    return operatorAttached() && operatorClock_.isValid() &&
           operatorClock_.elapsed() < timing_.operatorQuiet.count();
}

void Line::fromOperator(const QByteArray& line)
{
    if (!operatorAttached())
        return;
    operatorClock_.start();
    quietTimer_.start(timing_.operatorQuiet);
    if (current_) {
        if (operatorWaiting_.size() == MaxOperatorWaiting)
            operatorWaiting_.pop_front();
        operatorWaiting_.push_back(line);
        return;
    }
    writeLine(line, Origin{Priority::Operator, operatorPeer_});
    passed(QByteArrayView(line).chopped(line.endsWith(Cr) ? 1 : 0));
}

void Line::writeOperatorLines()
{
    while (!operatorWaiting_.empty()) {
        const QByteArray line = std::move(operatorWaiting_.front());
        operatorWaiting_.pop_front();
        writeLine(line, Origin{Priority::Operator, operatorPeer_});
        passed(QByteArrayView(line).chopped(line.endsWith(Cr) ? 1 : 0));
    }
}

void Line::writeLine(const QByteArray& bytes, const Origin& origin)
{
    emit written(bytes, origin);
    serial_.write(bytes);
}

// The power state follows the commands that pass, until the next reading says otherwise.
void Line::passed(QByteArrayView line)
{
    if (const auto after = powerAfter(line, power_))
        setPower(after);
}

void Line::setPower(std::optional<PowerState> state)
{
    if (!state || state == power_)
        return;
    power_ = state;
    emit powerChanged();
}

// Looked at once the event loop comes round, so that several submissions in a row are ordered
// by priority, not by who came first.
void Line::scheduleNext()
{
    if (std::exchange(nextPosted_, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            nextPosted_ = false;
            next();
        },
        Qt::QueuedConnection);
}

void Line::next()
{
    while (!current_ && !queue_.empty() && !paceTimer_.isActive() && !operatorActive()) {
        Request request = takeNext();
        if (ready()) {
            start(std::move(request));
            return;
        }
        const QString reason = fault_.isEmpty() ? name() + ": not connected" : fault_;
        request.done(Reply{Reply::Outcome::Lost, {}, {}, reason});
    }
}

// The highest priority first, in order of arrival; but a poller query that has waited a whole
// poll interval goes before controllers, so the readings never starve.
Line::Request Line::takeNext()
{
    auto chosen = std::find_if(queue_.begin(), queue_.end(), [this](const Request& r) {
        return r.origin.priority == Priority::Poller &&
               r.queued.elapsed() >= config_.interval.count();
    });
    if (chosen == queue_.end())
        chosen =
            std::max_element(queue_.begin(), queue_.end(), [](const Request& a, const Request& b) {
                return a.origin.priority < b.origin.priority;
            });
    Request request = std::move(*chosen);
    queue_.erase(chosen);
    return request;
}

void Line::start(Request request)
{
    if (const QByteArray before = serial_.readAll(); !before.isEmpty()) {
        emit received(before);
        outsideExchange(before);
    }
    reply_.clear();
    const QByteArray bytes = request.line + Cr;
    const Origin origin = request.origin;
    const QByteArray line = request.line;
    current_ = std::move(request);
    replyClock_.start();
    replyTimer_.start();
    writeLine(bytes, origin);
    passed(line);
}

void Line::arrived()
{
    const QByteArray bytes = serial_.readAll();
    if (bytes.isEmpty())
        return;
    emit received(bytes);
    if (!current_) {
        outsideExchange(bytes);
        return;
    }
    reply_ += bytes;
    if (const qsizetype end = replyEnd(reply_); end >= 0)
        finish(Reply::Outcome::Answered, end);
    else if (reply_.size() > MaxReplyBytes)
        finish(Reply::Outcome::Unended, reply_.size());
}

// Bytes that belong to no exchange: the attached console's, and counted while it is quiet.
void Line::outsideExchange(const QByteArray& bytes)
{
    if (!operatorActive())
        unsolicited_ += bytes.size();
    if (operatorAttached())
        emit toOperator(bytes);
}

void Line::replyWindowTick()
{
    if (current_)
        finish(reply_.isEmpty() ? Reply::Outcome::Silent : Reply::Outcome::Unended, reply_.size());
}

void Line::finish(Reply::Outcome outcome, qsizetype replyLength)
{
    replyTimer_.stop();
    Request request = std::move(*current_);
    current_.reset();
    const QByteArray rest = reply_.mid(replyLength);
    Reply reply{outcome,
                reply_.first(replyLength),
                std::chrono::nanoseconds(replyClock_.nsecsElapsed()),
                {}};
    reply_.clear();
    if (outcome == Reply::Outcome::Answered && request.line == queryCode(StatusQuery::Power)) {
        if (const auto reading = readStatus(StatusQuery::Power, renderTrace(reply.bytes)))
            setPower(std::get<PowerReading>(reading->value).state);
    }
    if (outcome == Reply::Outcome::Lost)
        reply.reason = fault_;
    if (!rest.isEmpty())
        outsideExchange(rest);
    writeOperatorLines();
    paceTimer_.start();
    request.done(reply);
}

void Line::paceTick()
{
    next();
}

void Line::quietTick()
{
    if (operatorActive()) // a timer may run out a little early
        quietTimer_.start(
            std::max<qint64>(timing_.operatorQuiet.count() - operatorClock_.elapsed(), 1));
    else
        scheduleNext();
}

// The device went away: the exchange in flight ends as lost, and so does every request that
// comes to its turn before the device is back.
void Line::deviceLost(const QString& reason)
{
    fault_ = name() + ": " + reason;
    operatorWaiting_.clear();
    emit lost(fault_);
    if (current_)
        finish(Reply::Outcome::Lost, reply_.size());
    scheduleNext();
}

void Line::deviceBack()
{
    fault_.clear();
    emit back();
    scheduleNext();
}

} // namespace qx200
