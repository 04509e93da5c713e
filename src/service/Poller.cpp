#include "service/Poller.h"

#include "protocol/TraceRendering.h"

#include <QPointer>

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

Poller::Poller(Line& line, PollTiming timing, QObject* parent)
    : QObject(parent), line_(line), timing_(timing)
{
    roundTimer_.setTimerType(Qt::PreciseTimer);
    roundTimer_.setInterval(line_.config().interval);
    connect(&roundTimer_, &QTimer::timeout, this, &Poller::roundTick);
    retryTimer_.setSingleShot(true);
    retryTimer_.setInterval(timing_.retry);
    connect(&retryTimer_, &QTimer::timeout, this, &Poller::retryTick);
    connect(&line_, &Line::lost, this, &Poller::deviceLost);
    connect(&line_, &Line::back, this, &Poller::deviceBack);
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
        emit lateRound();
        return;
    }
    startRound();
}

void Poller::startRound()
{
    running_ = true;
    ++round_;
    roundClock_.start();
    gathered_ = {};
    answered_ = false;
    next_ = 0;
    sendQuery();
}

void Poller::sendQuery()
{
    if (!line_.ready()) {
        // A network device still connecting: looked at again shortly, for a while.
        if (line_.fault().isEmpty() && roundClock_.elapsed() < timing_.connecting.count()) {
            retryTimer_.start();
            return;
        }
        fault_ = line_.fault().isEmpty() ? QStringLiteral("%1: not connected").arg(config().device)
                                         : line_.fault();
        emit error(PollError::DeviceLost);
        endRound();
        return;
    }
    const QPointer<Poller> self(this);
    line_.submit(queryCode(PolledQueries[next_]).toByteArray(),
                 Origin{Priority::Poller, QStringLiteral("poller")},
                 [self, round = round_](const Reply& reply) {
                     if (self && self->running_ && self->round_ == round)
                         self->replied(reply);
                 });
}

void Poller::retryTick()
{
    if (running_)
        sendQuery();
}

void Poller::replied(const Reply& reply)
{
    switch (reply.outcome) {
    case Reply::Outcome::Answered:
        emit replyTime(std::chrono::duration<double>(reply.took).count());
        if (const auto reading = readStatus(PolledQueries[next_], renderTrace(reply.bytes))) {
            gathered_.store(reading->value);
            answered_ = true;
            lastReply_ = QDateTime::currentDateTimeUtc();
            fault_.clear(); // whatever failed before, the line works now
        } else {
            emit error(PollError::Garbled);
        }
        nextQuery();
        return;
    case Reply::Outcome::Unended:
        emit error(PollError::Garbled); // a reply that never ended
        nextQuery();
        return;
    case Reply::Outcome::Silent:
        // Silence ends the round: the queries after it would only wait out their windows too.
        emit error(PollError::Timeout);
        endRound();
        return;
    case Reply::Outcome::Lost:
    case Reply::Outcome::Refused:
        fault_ = reply.reason;
        emit error(PollError::DeviceLost);
        endRound();
        return;
    }
}

void Poller::nextQuery()
{
    if (++next_ >= PolledQueries.size())
        endRound();
    else
        sendQuery();
}

void Poller::endRound()
{
    running_ = false;
    retryTimer_.stop();
    readings_ = gathered_;
    setUp(answered_);
    lastRoundTime_ = std::chrono::milliseconds(roundClock_.elapsed());
    ++roundsDone_;
    emit roundEnded();
    if (roundDue_) {
        roundDue_ = false;
        startRound();
    }
}

// The device went away under the open line: what was read is dropped at once, and rounds count
// the loss until the line has the device back. A loss between two rounds is counted here; one
// during a round is counted by the round's own failed exchange.
void Poller::deviceLost(const QString& text)
{
    if (!running_ && roundsDone_ > 0)
        emit error(PollError::DeviceLost);
    fault_ = text;
    gathered_ = {};
    answered_ = false;
    readings_ = {};
    setUp(false);
}

void Poller::deviceBack()
{
    fault_.clear();
}

void Poller::setUp(bool up)
{
    if (upKnown_ && up == up_)
        return;
    upKnown_ = true;
    up_ = up;
    emit upChanged(up);
}

} // namespace qx200
