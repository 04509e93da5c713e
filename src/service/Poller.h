#pragma once

// Polls one projector: the status queries one at a time, each sent, its reply collected up to
// the carriage return or the end of the reply window, then a pause before the next; a full round
// every poll interval. Everything runs on timers of the event loop, so a silent, unplugged or
// garbling projector holds up nothing but its own poller.

#include "protocol/StatusReading.h"
#include "serial/SerialPort.h"
#include "service/FleetConfig.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace qx200 {

// What one round of queries read; a query whose reply could not be read leaves its part empty.
struct Readings {
    std::optional<PowerReading> power;
    std::optional<InputSource> input;
    std::optional<LampHours> lampHours;
    std::optional<Orientation> orientation;
    std::optional<Temperatures> temperatures;
    std::optional<LampReading> lamps;
    std::optional<MuteReading> mute;
    std::optional<Pressure> pressure;

    void store(const ReadingValue& value);
    friend bool operator==(const Readings&, const Readings&) = default;
};

// The queries of a round, in the order they are sent.
inline constexpr std::array<StatusQuery, 8> PolledQueries{
    StatusQuery::Power,       StatusQuery::Input,        StatusQuery::LampHours,
    StatusQuery::Orientation, StatusQuery::Temperatures, StatusQuery::LampMode,
    StatusQuery::Mute,        StatusQuery::Pressure};

struct PollTiming {
    std::chrono::milliseconds replyWindow{1000};
    std::chrono::milliseconds pace{100}; // between a reply and the next query
    // How long a round waits for a network device that is still connecting (the service gives
    // a connection 3 s and then half a second to settle).
    std::chrono::milliseconds connecting{4000};
};

enum class PollError { Timeout, Garbled, DeviceLost };

// A reply that has not ended after this many bytes is garbage, not a reply.
inline constexpr qsizetype MaxReplyBytes = 1024;

class Poller final : public QObject {
    Q_OBJECT

public:
    Poller(ProjectorConfig config, std::unique_ptr<SerialPort> port, PollTiming timing = {},
           QObject* parent = nullptr);
    ~Poller() override;

    // Starts the first round now and one every interval after it.
    void start();

    const ProjectorConfig& config() const { return config_; }
    // Whether the last round read anything; its readings are the only ones kept.
    bool up() const { return up_; }
    const Readings& readings() const { return readings_; }
    // When a reply was last read, if ever.
    std::optional<QDateTime> lastReply() const { return lastReply_; }
    // Why the device cannot be used, while it cannot; empty otherwise.
    const QString& fault() const { return fault_; }
    bool roundRunning() const { return running_; }
    std::chrono::milliseconds lastRoundTime() const { return lastRoundTime_; }
    std::uint64_t roundsDone() const { return roundsDone_; }

    // The timers, for tests that drive the ticks themselves.
    const QTimer& roundTimer() const { return roundTimer_; }
    const QTimer& replyTimer() const { return replyTimer_; }
    const QTimer& paceTimer() const { return paceTimer_; }

    // Tick handlers.
    void roundTick();
    void replyWindowTick();
    void paceTick();

    // Observers, called on the event loop's thread.
    std::function<void(std::chrono::duration<double>)> onReplyTime;
    std::function<void(PollError)> onError;
    std::function<void()> onRoundEnd;
    std::function<void()> onLateRound;       // a round fell due while the last one still ran
    std::function<void(bool up)> onUpChange; // told after the first round, then on changes

private:
    void startRound();
    void sendQuery();
    void received();
    void finishQuery(const QByteArray& reply);
    void nextQuery();
    void endRound();
    bool ensureOpen();
    void deviceLost(const QString& text);
    void deviceBack();
    void setUp(bool up);
    void report(PollError error);

    ProjectorConfig config_;
    std::unique_ptr<SerialPort> port_;
    PollTiming timing_;
    QTimer roundTimer_;
    QTimer replyTimer_;
    QTimer paceTimer_;
    QElapsedTimer roundClock_;
    QElapsedTimer replyClock_;

    bool running_ = false;
    bool roundDue_ = false; // a round fell due while this one ran
    bool awaiting_ = false; // a query is out and its reply window open
    bool lost_ = false;     // the open device went away
    std::size_t next_ = 0;  // index of the query in PolledQueries
    QByteArray reply_;
    Readings gathered_;     // this round's readings
    bool answered_ = false; // this round read a reply

    Readings readings_;
    bool up_ = false;
    bool upKnown_ = false; // told once at least
    std::optional<QDateTime> lastReply_;
    QString fault_;
    std::chrono::milliseconds lastRoundTime_{0};
    std::uint64_t roundsDone_ = 0;
};

} // namespace qx200
