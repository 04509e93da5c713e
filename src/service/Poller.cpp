#include "service/Poller.h"

#include "protocol/TraceRendering.h"

#include <variant>

namespace qx200 {

namespace {

template <class... Handlers> struct Overloaded : Handlers... {
    using Handlers::operator()...;
};
// Spelt out for compilers without aggregate deduction (clang before 17).
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace

void Readings::store(const ReadingValue& value)
{
    std::visit(Overloaded{
                   [this](const PowerReading& v) { power = v; },
                   [this](InputSource v) { input = v; },
                   [this](const LampHours& v) { lampHours = v; },
                   [this](const Orientation& v) { orientation = v; },
                   [this](const Temperatures& v) { temperatures = v; },
                   [this](const LampReading& v) { lamps = v; },
                   [this](const MuteReading& v) { mute = v; },
                   [this](const Pressure& v) { pressure = v; },
               },
               value);
}

Poller::Poller(ProjectorConfig config, std::unique_ptr<SerialPort> port, PollTiming timing,
               QObject* parent)
    : QObject(parent), config_(std::move(config)), port_(std::move(port)), timing_(timing)
{
    port_->CommPort(1);
    port_->Settings(lineSettingsFor(config_.speed).value()); // speeds are checked when read
    port_->OnComm = [this] { received(); };
    port_->OnFault = [this](const QString& text) { deviceLost(text); };
    port_->OnRecover = [this] { deviceBack(); };

    roundTimer_.setTimerType(Qt::PreciseTimer);
    roundTimer_.setInterval(config_.interval);
    connect(&roundTimer_, &QTimer::timeout, this, &Poller::roundTick);
    // Precise: a coarse timer may end a reply window up to 5 % early.
    replyTimer_.setTimerType(Qt::PreciseTimer);
    replyTimer_.setSingleShot(true);
    replyTimer_.setInterval(timing_.replyWindow);
    connect(&replyTimer_, &QTimer::timeout, this, &Poller::replyWindowTick);
    paceTimer_.setTimerType(Qt::PreciseTimer);
    paceTimer_.setSingleShot(true);
    paceTimer_.setInterval(timing_.pace);
    connect(&paceTimer_, &QTimer::timeout, this, &Poller::paceTick);
}

Poller::~Poller()
{
    port_->OnComm = {};
    port_->OnFault = {};
    port_->OnRecover = {};
}

void Poller::start()
{
    roundTimer_.start();
    startRound();
}

void Poller::roundTick()
{
    if (running_) {
        roundDue_ = true;
        if (onLateRound)
            onLateRound();
        return;
    }
    startRound();
}

void Poller::startRound()
{
    running_ = true;
    roundClock_.start();
    gathered_ = {};
    answered_ = false;
    next_ = 0;
    sendQuery();
}

// Opens the port if it is not open; false while there is no device to talk to.
bool Poller::ensureOpen()
{
    if (port_->PortOpen())
        return !lost_;
    try {
        port_->PortOpen(true);
        fault_.clear();
        return true;
    } catch (const PortError& error) {
        fault_ = error.text();
        return false;
    }
}

void Poller::sendQuery()
{
    if (!ensureOpen()) {
        report(PollError::DeviceLost);
        endRound();
        return;
    }
    if (!port_->DeviceReady()) {
        // A network device still connecting: asked again after the pace, for a while.
        if (roundClock_.elapsed() < timing_.connecting.count()) {
            paceTimer_.start();
            return;
        }
        fault_ = QStringLiteral("%1: not connected").arg(config_.device);
        report(PollError::DeviceLost);
        endRound();
        return;
    }
    reply_.clear();
    try {
        port_->Input(); // what came between queries belongs to no query
        port_->Output(queryCode(PolledQueries[next_]).toByteArray() + '\r');
    } catch (const PortError& error) {
        fault_ = error.text();
        report(PollError::DeviceLost);
        endRound();
        return;
    }
    awaiting_ = true;
    replyClock_.start();
    replyTimer_.start();
}

void Poller::received()
{
    if (port_->CommEvent() != SerialPort::ReceiveEvent)
        return;
    const QByteArray bytes = port_->Input();
    if (!awaiting_)
        return;
    reply_ += bytes;
    if (const qsizetype end = reply_.indexOf('\r'); end >= 0) {
        finishQuery(reply_.first(end + 1));
    } else if (reply_.size() > MaxReplyBytes) {
        awaiting_ = false;
        replyTimer_.stop();
        report(PollError::Garbled);
        nextQuery();
    }
}

void Poller::finishQuery(const QByteArray& reply)
{
    awaiting_ = false;
    replyTimer_.stop();
    if (onReplyTime)
        onReplyTime(std::chrono::nanoseconds(replyClock_.nsecsElapsed()));
    if (const auto reading = readStatus(PolledQueries[next_], renderTrace(reply))) {
        gathered_.store(reading->value);
        answered_ = true;
        lastReply_ = QDateTime::currentDateTimeUtc();
        fault_.clear(); // whatever failed before, the line works now
    } else {
        report(PollError::Garbled);
    }
    nextQuery();
}

void Poller::nextQuery()
{
    if (++next_ >= PolledQueries.size())
        endRound();
    else
        paceTimer_.start();
}

// Silence ends the round: the queries after it would only wait out their windows too.
void Poller::replyWindowTick()
{
    if (!awaiting_)
        return;
    awaiting_ = false;
    if (reply_.isEmpty()) {
        report(PollError::Timeout);
        endRound();
        return;
    }
    report(PollError::Garbled); // a reply that never ended
    nextQuery();
}

void Poller::paceTick()
{
    if (running_ && !awaiting_)
        sendQuery();
}

void Poller::endRound()
{
    running_ = false;
    awaiting_ = false;
    replyTimer_.stop();
    paceTimer_.stop();
    readings_ = gathered_;
    setUp(answered_);
    lastRoundTime_ = std::chrono::milliseconds(roundClock_.elapsed());
    ++roundsDone_;
    if (onRoundEnd)
        onRoundEnd();
    if (roundDue_) {
        roundDue_ = false;
        startRound();
    }
}

// The device went away under the open port: what was read is dropped at once, and rounds count
// the loss until the port service has the device back.
void Poller::deviceLost(const QString& text)
{
    lost_ = true;
    fault_ = text;
    gathered_ = {};
    answered_ = false;
    readings_ = {};
    setUp(false);
    if (running_) {
        report(PollError::DeviceLost);
        endRound();
    }
}

void Poller::deviceBack()
{
    lost_ = false;
    fault_.clear();
}

void Poller::setUp(bool up)
{
    if (upKnown_ && up == up_)
        return;
    upKnown_ = true;
    up_ = up;
    if (onUpChange)
        onUpChange(up);
}

void Poller::report(PollError error)
{
    if (onError)
        onError(error);
}

} // namespace qx200
