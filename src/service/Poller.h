#pragma once

// Polls one projector: a round of status queries every poll interval, each handed to the
// projector's line at the lowest priority and its reply folded into the readings. The line sends
// them one at a time; a silent, unplugged or garbling projector holds up nothing but its own
// line. While an operator holds the line the queries wait, and the last readings stay.

#include "protocol/StatusReading.h"
#include "service/Line.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
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
    // How long a round waits for a network device that is still connecting (the service gives
    // a connection 3 s and then half a second to settle).
    std::chrono::milliseconds connecting{4000};
    std::chrono::milliseconds retry{100}; // between two looks at a device still connecting
};

enum class PollError { Timeout, Garbled, DeviceLost };

class Poller final : public QObject {
    Q_OBJECT

public:
    explicit Poller(Line& line, PollTiming timing = {}, QObject* parent = nullptr);

    // Starts the first round now and one every interval after it.
    void start();

    const ProjectorConfig& config() const { return line_.config(); }
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

    const QTimer& roundTimer() const { return roundTimer_; }
    // Tick handlers, for tests that drive the timers themselves.
    void roundTick();
    void retryTick();

signals:
    void replyTime(double seconds);
    void error(PollError error);
    void roundEnded();
    void lateRound();        // a round fell due while the last one still ran
    void upChanged(bool up); // told after the first round, then on changes

private:
    void startRound();
    void sendQuery();
    void replied(const Reply& reply);
    void nextQuery();
    void endRound();
    void deviceLost(const QString& text);
    void deviceBack();
    void setUp(bool up);

    Line& line_;
    PollTiming timing_;
    QTimer roundTimer_;
    QTimer retryTimer_;
    QElapsedTimer roundClock_;

    bool running_ = false;
    bool roundDue_ = false;   // a round fell due while this one ran
    std::size_t next_ = 0;    // index of the query in PolledQueries
    Readings gathered_;       // this round's readings
    bool answered_ = false;   // this round read a reply
    std::uint64_t round_ = 0; // replies to an older round are ignored

    Readings readings_;
    bool up_ = false;
    bool upKnown_ = false; // told once at least
    std::optional<QDateTime> lastReply_;
    QString fault_;
    std::chrono::milliseconds lastRoundTime_{0};
    std::uint64_t roundsDone_ = 0;
};

} // namespace qx200
