#pragma once

// A projector's network controller listener: each connection is greeted, authenticated when a
// password is set, and its requests become lines on the projector's line at controller priority,
// one request at a time per connection. Queries are answered from a reading younger than
// PjlinkTiming::fresh when there is one, and controllers asking the same query at once share
// one exchange on the line, so that many polling controllers do not flood the serial line.
//
// While a console is active on the line, requests that need the line get ERR3 (unavailable at
// this time) at once instead of waiting behind the operator: controllers expect a reply within
// about two seconds, and the console's holds keep the line's pace.
//
// Bounds: MaxConnections at once (more are closed at once), MaxRequestBytes per line (a longer
// one closes its connection), one request in flight per connection with the socket's buffer
// capped, an idle connection closed after PjlinkTiming::idle. Wrong digests: MaxWrongDigests
// from one address within PjlinkTiming::lockoutWindow refuse that address for
// PjlinkTiming::lockout, logged once.
//
// Status notifications go by UDP to the notification port of the controller that connected
// last: "%2POWR=" when the power state changes, "%2INPT=" and "%2ERST=" when the poller reads a
// new input or error status, "%2LKUP=" with the hardware address when the line comes back.

#include "service/FleetConfig.h"
#include "service/Poller.h"
#include "service/pjlink/PjlinkProtocol.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUdpSocket>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <optional>

namespace qx200 {

class Line;

struct PjlinkTiming {
    std::chrono::milliseconds idle{30000};
    std::chrono::milliseconds fresh{1000};
    std::chrono::milliseconds lockoutWindow{60000};
    std::chrono::milliseconds lockout{60000};
};

class PjlinkServer final : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxConnections = 32;
    static constexpr int MaxWrongDigests = 5;

    // An empty password: no authentication.
    PjlinkServer(Line& line, QByteArray password, PjlinkTiming timing = {},
                 QObject* parent = nullptr);
    ~PjlinkServer() override;

    // Empty when listening, otherwise why not.
    QString listen(const SocketAddress& at);
    quint16 port() const { return server_.serverPort(); }
    // The connected controllers, "10.0.0.5:40312", in the order they came.
    QStringList controllers() const;

    // Sends notifications of what the poller reads, besides those of the line.
    void watch(const Poller& poller);
    // Where controllers receive notifications (4352 unless a test says otherwise).
    void setNotificationPort(quint16 port) { notificationPort_ = port; }

signals:
    // A request answered: its command ("POWR"; "other" for one this projector does not know,
    // "-" for a line that is no request) and "ok" or "err1" ... "err4".
    void answered(const QByteArray& command, const QByteArray& result);
    // A connection refused for a wrong digest or a locked-out address.
    void loginRefused();
    void controllersChanged();

private:
    class Connection;
    friend class Connection;
    using ReadDone = std::function<void(const Readings&, std::optional<pjlink::Error>)>;
    using SendDone = std::function<void(std::optional<pjlink::Error>)>;

    void accept();
    void closed(Connection* connection);
    // Reads the queries (fresh readings first), then calls done once.
    void read(std::vector<StatusQuery> queries, const QString& who, ReadDone done);
    void readOne(StatusQuery query, const QString& who,
                 std::function<void(std::optional<pjlink::Error>)> done);
    // Writes the command lines in order; done with nothing when the projector took each.
    void send(std::vector<QByteArray> lines, const QString& who, SendDone done);
    // Whether the address is refused now; counts a wrong digest.
    bool lockedOut(const QString& host);
    void wrongDigest(const QString& host);
    void log(const QString& text) const;
    void notify(QByteArrayView command, const QByteArray& body);
    void polled(const Readings& readings);

    Line& line_;
    QByteArray password_;
    PjlinkTiming timing_;
    pjlink::Identity identity_;
    QTcpServer server_;
    std::vector<Connection*> connections_;

    struct Cached {
        qint64 at = 0; // clock_ milliseconds
        std::optional<ReadingValue> value;
    };
    std::map<StatusQuery, Cached> cache_;
    std::map<StatusQuery, std::vector<std::function<void(std::optional<pjlink::Error>)>>>
        reading_; // queries on the line, with who waits for them

    QElapsedTimer clock_;
    QHash<QString, std::deque<qint64>> wrongDigests_;
    QHash<QString, qint64> lockedUntil_;

    QUdpSocket notifier_;
    quint16 notificationPort_ = 4352;
    std::optional<QHostAddress> notifyTo_; // the controller that connected last
    QByteArray hardwareAddress_;
    std::optional<QByteArray> polledInput_; // the last notified bodies
    std::optional<QByteArray> polledErrors_;
};

} // namespace qx200
