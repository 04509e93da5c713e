#include "service/pjlink/PjlinkServer.h"

#include "protocol/TraceRendering.h"
#include "service/ConsoleServer.h"
#include "service/Line.h"

#include <QPointer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>

namespace qx200 {

namespace {

using pjlink::Error;

// What a controller may send at most before its line ends: a digest and a request.
constexpr qsizetype MaxLineBytes = pjlink::DigestChars + pjlink::MaxRequestBytes;
// Answers a controller may leave unread before it is dropped.
constexpr qint64 MaxUnsentBytes = 16 * 1024;

// The error a line's reply stands for; nothing when it was answered.
std::optional<Error> replyError(const Reply& reply)
{
    switch (reply.outcome) {
    case Reply::Outcome::Answered:
        return std::nullopt;
    case Reply::Outcome::Refused:
        return Error::Unavailable;
    case Reply::Outcome::Silent:
    case Reply::Outcome::Unended:
    case Reply::Outcome::Lost:
        break;
    }
    return Error::Failure;
}

QByteArray resultOf(QByteArrayView body)
{
    return body.startsWith("ERR") ? body.toByteArray().toLower() : QByteArray("ok");
}

bool isHex(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    });
}

// An address as text, IPv4 clients of an IPv6 listener as IPv4: the key of the lockout.
QString hostText(const QHostAddress& host)
{
    bool ipv4 = false;
    const quint32 v4 = host.toIPv4Address(&ipv4);
    return ipv4 ? QHostAddress(v4).toString() : host.toString();
}

// Hangs up once what was written has gone out; a peer that does not read is cut off after a
// second.
void hangUp(QTcpSocket* socket)
{
    socket->setParent(nullptr);
    QObject::connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QTimer::singleShot(1000, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

QByteArray randomText()
{
    return QByteArray::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, '0');
}

} // namespace

// One controller's connection: greets, authenticates, takes one request at a time.
class PjlinkServer::Connection final : public QObject {
public:
    Connection(PjlinkServer& server, QTcpSocket* socket)
        : QObject(&server), server_(server), socket_(socket),
          peer_(peerText(socket->peerAddress(), socket->peerPort()))
    {
        socket_->setParent(this);
        // Bytes wait in the kernel while a request is in flight, not in the service.
        socket_->setReadBufferSize(MaxLineBytes + 2);
        if (!server_.password_.isEmpty())
            random_ = randomText();
        idle_.setSingleShot(true);
        idle_.setInterval(server_.timing_.idle);
        connect(&idle_, &QTimer::timeout, this, &Connection::close);
        connect(socket_, &QTcpSocket::readyRead, this, &Connection::readable);
        connect(socket_, &QTcpSocket::disconnected, this, &Connection::close);
        socket_->write(pjlink::greeting(random_));
        idle_.start();
    }

    const QString& peer() const { return peer_; }

    void close()
    {
        if (std::exchange(closing_, true))
            return;
        idle_.stop();
        socket_->disconnect(this);
        hangUp(socket_);
        server_.closed(this);
        deleteLater();
    }

private:
    void readable()
    {
        if (closing_)
            return;
        idle_.start();
        while (!busy_ && !closing_) {
            pending_ += socket_->read(MaxLineBytes + 2 - pending_.size());
            const auto end = std::find_if(pending_.begin(), pending_.end(),
                                          [](char c) { return c == '\r' || c == '\n'; });
            if (end == pending_.end()) {
                if (pending_.size() > MaxLineBytes)
                    close(); // longer than any request can be
                return;
            }
            const qsizetype length = end - pending_.begin();
            const QByteArray line = pending_.left(length);
            pending_.remove(0, length + 1);
            if (!line.trimmed().isEmpty())
                take(line);
        }
    }

    void take(QByteArray line)
    {
        if (random_ && !authenticated_) {
            if (line.size() < pjlink::DigestChars ||
                !pjlink::digestMatches(line.first(pjlink::DigestChars), *random_,
                                       server_.password_)) {
                server_.wrongDigest(hostText(socket_->peerAddress()));
                refuseLogin();
                return;
            }
            authenticated_ = true;
            line.remove(0, pjlink::DigestChars);
        } else if (line.size() > pjlink::DigestChars && line[pjlink::DigestChars] == '%' &&
                   isHex(line.first(pjlink::DigestChars))) {
            line.remove(0, pjlink::DigestChars); // a digest sent again, or where none is asked
        }
        const auto request = pjlink::parseRequest(line);
        if (!request || line.size() > pjlink::MaxRequestBytes) {
            emit server_.answered("-", "err1");
            close(); // no request at all: nothing to answer it with
            return;
        }
        handle(*request);
    }

    void refuseLogin()
    {
        socket_->write(pjlink::AuthenticationError);
        emit server_.loginRefused();
        close();
    }

    void handle(const pjlink::Request& request)
    {
        const pjlink::Plan plan = pjlink::plan(request, server_.identity_);
        if (plan.body) {
            reply(request, *plan.body);
            return;
        }
        busy_ = true;
        const QPointer<Connection> self(this);
        const QString who = peer_ + QStringLiteral(" (pjlink)");
        if (!plan.lines.empty()) {
            server_.send(plan.lines, who, [self, request](std::optional<Error> error) {
                if (self)
                    self->reply(request, error ? pjlink::errorText(*error) : "OK");
            });
            return;
        }
        server_.read(plan.queries, who,
                     [self, request](const Readings& readings, std::optional<Error> error) {
                         if (self)
                             self->reply(request,
                                         error ? pjlink::errorText(*error)
                                               : pjlink::answerQuery(request, readings,
                                                                     self->server_.identity_));
                     });
    }

    void reply(const pjlink::Request& request, const QByteArray& body)
    {
        busy_ = false;
        if (closing_)
            return;
        socket_->write(pjlink::replyLine(request, body));
        emit server_.answered(pjlink::knownCommand(request.command) ? request.command : "other",
                              resultOf(body));
        if (socket_->bytesToWrite() > MaxUnsentBytes) {
            close(); // it asks and never reads the answers
            return;
        }
        // What arrived meanwhile is taken once this call is done.
        QMetaObject::invokeMethod(this, &Connection::readable, Qt::QueuedConnection);
    }

    PjlinkServer& server_;
    QTcpSocket* socket_;
    QString peer_;
    std::optional<QByteArray> random_; // while authentication is asked for
    bool authenticated_ = false;
    bool busy_ = false;
    bool closing_ = false;
    QByteArray pending_;
    QTimer idle_;
};

PjlinkServer::PjlinkServer(Line& line, QByteArray password, PjlinkTiming timing, QObject* parent)
    : QObject(parent), line_(line), password_(std::move(password)), timing_(timing),
      identity_(pjlink::identityOf(line.config())),
      hardwareAddress_(pjlink::hardwareAddressOf(line.config().name))
{
    clock_.start();
    connect(&server_, &QTcpServer::newConnection, this, &PjlinkServer::accept);
    // The projector cannot be asked whether its picture is frozen: the lines tell, whoever
    // sends them, and the picture thaws when the projector leaves the on state.
    connect(&line_, &Line::written, this, [this](const QByteArray& bytes, const Origin&) {
        if (bytes == freezeCommand(true) + '\r' || bytes == freezeCommand(false) + '\r')
            identity_.frozen = bytes == freezeCommand(true) + '\r';
    });
    connect(&line_, &Line::powerChanged, this, [this] {
        if (line_.power() != PowerState::On)
            identity_.frozen = false;
        Readings readings;
        readings.power = PowerReading{line_.power(), {}};
        notify("POWR", pjlink::answerQuery({'1', "POWR", "?"}, readings, identity_));
    });
    connect(&line_, &Line::back, this, [this] { notify("LKUP", hardwareAddress_); });
}

PjlinkServer::~PjlinkServer()
{
    qDeleteAll(std::exchange(connections_, {}));
}

QString PjlinkServer::listen(const SocketAddress& at)
{
    return server_.listen(at.address, at.port) ? QString() : server_.errorString();
}

QStringList PjlinkServer::controllers() const
{
    QStringList peers;
    for (const Connection* connection : connections_)
        peers << connection->peer();
    return peers;
}

void PjlinkServer::watch(const Poller& poller)
{
    connect(&poller, &Poller::roundEnded, this, [this, &poller] { polled(poller.readings()); });
}

// The input and the error status, told when a round reads them different from the last told.
void PjlinkServer::polled(const Readings& readings)
{
    const auto tell = [this, &readings](QByteArrayView command, std::optional<QByteArray>& last,
                                        bool read) {
        if (!read)
            return;
        const QByteArray body =
            pjlink::answerQuery({'1', command.toByteArray(), "?"}, readings, identity_);
        if (last && *last != body)
            notify(command, body);
        last = body;
    };
    tell("INPT", polledInput_, readings.input.has_value());
    tell("ERST", polledErrors_, readings.power.has_value());
}

void PjlinkServer::notify(QByteArrayView command, const QByteArray& body)
{
    if (notifyTo_)
        notifier_.writeDatagram("%2" + command.toByteArray() + '=' + body + '\r', *notifyTo_,
                                notificationPort_);
}

void PjlinkServer::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const bool locked = lockedOut(hostText(socket->peerAddress()));
        if (locked) {
            socket->write(pjlink::AuthenticationError);
            emit loginRefused();
        }
        if (locked || int(connections_.size()) >= MaxConnections) {
            hangUp(socket);
            continue;
        }
        notifyTo_ = QHostAddress(hostText(socket->peerAddress()));
        connections_.push_back(new Connection(*this, socket));
        emit controllersChanged();
    }
}

void PjlinkServer::closed(Connection* connection)
{
    std::erase(connections_, connection);
    emit controllersChanged();
}

void PjlinkServer::read(std::vector<StatusQuery> queries, const QString& who, ReadDone done)
{
    if (queries.empty()) {
        Readings readings;
        for (const auto& [query, cached] : cache_)
            if (cached.value)
                readings.store(*cached.value);
        done(readings, std::nullopt);
        return;
    }
    const StatusQuery first = queries.front();
    queries.erase(queries.begin());
    const QPointer<PjlinkServer> self(this);
    readOne(first, who, [self, queries, who, done](std::optional<Error> error) {
        if (!self)
            return;
        if (error)
            done({}, error);
        else
            self->read(queries, who, done);
    });
}

// A reading younger than timing_.fresh is used as it is; otherwise the query goes to the line
// once, for everyone who asks meanwhile.
void PjlinkServer::readOne(StatusQuery query, const QString& who,
                           std::function<void(std::optional<Error>)> done)
{
    const auto cached = cache_.find(query);
    if (cached != cache_.end() && clock_.elapsed() - cached->second.at < timing_.fresh.count()) {
        done(std::nullopt);
        return;
    }
    if (line_.operatorActive()) {
        done(Error::Unavailable);
        return;
    }
    auto& waiting = reading_[query];
    waiting.push_back(std::move(done));
    if (waiting.size() > 1)
        return;
    const QPointer<PjlinkServer> self(this);
    line_.submit(queryCode(query).toByteArray(), Origin{Priority::Controller, who},
                 [self, query](const Reply& reply) {
                     if (!self)
                         return;
                     const std::optional<Error> error = replyError(reply);
                     if (!error) {
                         const auto reading = readStatus(query, renderTrace(reply.bytes));
                         self->cache_[query] = {self->clock_.elapsed(),
                                                reading ? std::optional(reading->value)
                                                        : std::nullopt};
                     }
                     const auto readers = std::exchange(self->reading_[query], {});
                     for (const auto& next : readers)
                         next(error);
                 });
}

void PjlinkServer::send(std::vector<QByteArray> lines, const QString& who, SendDone done)
{
    if (lines.empty()) {
        cache_.clear(); // what the commands changed is read afresh
        done(std::nullopt);
        return;
    }
    if (line_.operatorActive()) {
        done(Error::Unavailable);
        return;
    }
    const QByteArray first = lines.front();
    lines.erase(lines.begin());
    const QPointer<PjlinkServer> self(this);
    line_.submit(first, Origin{Priority::Controller, who},
                 [self, lines, who, done](const Reply& reply) {
                     if (!self)
                         return;
                     std::optional<Error> error = replyError(reply);
                     if (!error && reply.bytes != QByteArrayLiteral("\x06"))
                         error = Error::Failure; // the projector did not take it
                     if (error) {
                         self->cache_.clear();
                         done(error);
                     } else {
                         self->send(lines, who, done);
                     }
                 });
}

bool PjlinkServer::lockedOut(const QString& host)
{
    const auto until = lockedUntil_.find(host);
    if (until == lockedUntil_.end())
        return false;
    if (clock_.elapsed() < *until)
        return true;
    lockedUntil_.erase(until);
    return false;
}

void PjlinkServer::wrongDigest(const QString& host)
{
    const qint64 now = clock_.elapsed();
    // Addresses whose wrong digests are all old are forgotten, so that a flood from many
    // addresses holds no memory for long.
    for (auto it = wrongDigests_.begin(); it != wrongDigests_.end();) {
        while (!it->empty() && now - it->front() >= timing_.lockoutWindow.count())
            it->pop_front();
        it = it->empty() && it.key() != host ? wrongDigests_.erase(it) : std::next(it);
    }
    for (auto it = lockedUntil_.begin(); it != lockedUntil_.end();)
        it = now >= *it ? lockedUntil_.erase(it) : std::next(it);
    std::deque<qint64>& times = wrongDigests_[host];
    times.push_back(now);
    if (int(times.size()) < MaxWrongDigests)
        return;
    wrongDigests_.remove(host);
    lockedUntil_[host] = now + timing_.lockout.count();
    log(QStringLiteral("refusing %1 for %2 s: %3 wrong passwords within %4 s")
            .arg(host)
            .arg(timing_.lockout.count() / 1000)
            .arg(MaxWrongDigests)
            .arg(timing_.lockoutWindow.count() / 1000));
}

void PjlinkServer::log(const QString& text) const
{
    std::fputs(QStringLiteral("qx200d: %1: pjlink: %2\n")
                   .arg(line_.config().name, text)
                   .toLocal8Bit()
                   .constData(),
               stderr);
    std::fflush(stderr);
}

} // namespace qx200
