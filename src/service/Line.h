#pragma once

// One projector's line: the only writer to its device. Everything written goes through its
// queue, one command line at a time, and the reply (the bytes up to the carriage return, a lone
// acknowledgement, or what arrived when the reply window ends) belongs to the line's sender.
//
// Senders by priority: the operator (a console attached to the projector), controllers (network
// clients, qx200ctl), the poller. While the operator has sent within the last operator_quiet the
// line is the operator's: its lines go out as they come, nothing else is written, and every
// byte received goes to the console. Otherwise the waiting request of the highest priority goes
// next, except that a poller query never waits longer than one poll interval behind
// controllers.

#include "protocol/ProjectorCommands.h"
#include "protocol/StatusReading.h"
#include "serial/SerialLine.h"
#include "service/FleetConfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

namespace qx200 {

enum class Priority { Poller, Controller, Operator };

// Who sent a line: its priority, and a name for the record and the log ("poller",
// "127.0.0.1:40312 (console)", "10.0.0.5 (pjlink)", "alice (qx200ctl)").
struct Origin {
    Priority priority = Priority::Poller;
    QString who;
};

struct Reply {
    enum class Outcome {
        Answered, // ended by its carriage return or an acknowledgement
        Silent,   // nothing arrived within the reply window
        Unended,  // bytes arrived but no end within the window, or more than a reply can be
        Lost,     // the device is not there; reason says why
        Refused,  // not written: the projector cannot take it now; reason says why
    };
    Outcome outcome = Outcome::Silent;
    QByteArray bytes; // what arrived, up to and with its end
    std::chrono::nanoseconds took{0};
    QString reason;
};

struct LineTiming {
    std::chrono::milliseconds replyWindow{1000};
    std::chrono::milliseconds pace{100}; // between the end of one exchange and the next line
    std::chrono::milliseconds operatorQuiet{2000};
};

// A reply that has not ended after this many bytes is garbage, not a reply.
inline constexpr qsizetype MaxReplyBytes = 1024;
// Requests waiting on one line; more are refused at once.
inline constexpr std::size_t MaxWaitingRequests = 256;

class Line final : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const Reply&)>;

    Line(ProjectorConfig config, LineTiming timing = {}, QObject* parent = nullptr);
    ~Line() override;

    const ProjectorConfig& config() const { return config_; }
    const LineTiming& timing() const { return timing_; }

    // Opens the device; a device that cannot be reached is tried again until it is.
    void open();
    // True while the device takes what is written.
    bool ready() const;
    // Why the device cannot be used, while it cannot ("hall-1 (/dev/ttyUSB0): ..."); empty
    // otherwise.
    const QString& fault() const { return fault_; }
    // What the device told that is no fault ("hall-1 (rfc2217:...): the serial server does not
    // set the speed..."); empty if nothing.
    const QString& note() const { return note_; }

    // Queues one command line (without its carriage return) from a controller or the poller.
    // done is called once, from the event loop, never from inside submit(). A controller's
    // command that the projector cannot take in its present power state is refused without
    // touching the line.
    void submit(const QByteArray& line, const Origin& origin, Done done);

    // The operator: one console at a time. attach() is false while another is attached.
    bool attach(const QString& peer);
    void detach();
    bool operatorAttached() const { return !operatorPeer_.isEmpty(); }
    const QString& operatorPeer() const { return operatorPeer_; }
    // True while the operator has sent within operator_quiet.
    bool operatorActive() const;
    // A whole line from the attached console, its carriage return included. Written as soon as
    // no other sender's exchange is in flight, never refused.
    void fromOperator(const QByteArray& line);

    // The power state the line believes the projector is in: from the replies to power queries
    // and from the power commands it passed. Nothing before the first reading.
    std::optional<PowerState> power() const { return power_; }

    // Requests waiting, and whether an exchange is in flight.
    std::size_t waiting() const { return queue_.size(); }
    bool busy() const { return current_.has_value(); }
    // Bytes that arrived outside any exchange while no operator was active.
    qint64 unsolicitedBytes() const { return unsolicited_; }

    // Tick handlers, for tests that drive the timers themselves.
    void replyWindowTick();
    void paceTick();
    void quietTick();

signals:
    // Every byte written, with its sender; every byte read. For the record.
    void written(const QByteArray& bytes, const Origin& origin);
    void received(const QByteArray& bytes);
    // Bytes for the attached console.
    void toOperator(const QByteArray& bytes);
    // The device went away (the text names the projector), and came back.
    void lost(const QString& text);
    void back();
    // note() changed.
    void told(const QString& text);
    void operatorChanged();
    void powerChanged();

private:
    struct Request {
        QByteArray line;
        Origin origin;
        Done done;
        QElapsedTimer queued;
    };

    void tryOpen();
    void arrived();
    void outsideExchange(const QByteArray& bytes);
    void deviceLost(const QString& reason);
    void deviceBack();
    void next();
    void scheduleNext();
    Request takeNext();
    void start(Request request);
    void finish(Reply::Outcome outcome, qsizetype replyLength);
    void writeLine(const QByteArray& bytes, const Origin& origin);
    void writeOperatorLines();
    void passed(QByteArrayView line);
    void setPower(std::optional<PowerState> state);
    QString name() const; // "hall-1 (/dev/ttyUSB0)"

    ProjectorConfig config_;
    LineTiming timing_;
    SerialLine serial_;
    std::deque<Request> queue_;
    std::optional<Request> current_;
    QByteArray reply_;
    QElapsedTimer replyClock_;
    QTimer replyTimer_;
    QTimer paceTimer_;
    QTimer quietTimer_;
    QTimer openTimer_;            // tries again a device that could not be opened
    QElapsedTimer operatorClock_; // since the operator's last line
    QString operatorPeer_;
    std::deque<QByteArray> operatorWaiting_; // operator lines behind an exchange in flight
    QString fault_;
    QString note_;
    bool nextPosted_ = false;
    std::optional<PowerState> power_;
    qint64 unsolicited_ = 0;
};

} // namespace qx200
