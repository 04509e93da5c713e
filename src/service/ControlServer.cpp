#include "service/ControlServer.h"

#include "service/ControlProtocol.h"
#include "service/Fleet.h"
#include "service/ReadingNames.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalSocket>
#include <QPointer>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qx200 {

namespace {

// How long the start-up waits for an answer from a service already on the path.
constexpr int ProbeMs = 1000;

// The user name of the process at the other end of a local socket; the uid number when the
// name is unknown.
QString peerUser(qintptr descriptor)
{
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0)
        return QStringLiteral("unknown user");
    long bufferSize = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(bufferSize > 0 ? std::size_t(bufferSize) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(credentials.uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(credentials.uid);
}

QString seconds(std::chrono::milliseconds duration)
{
    return QString::number(double(duration.count()) / 1000.0, 'g', 4);
}

QJsonObject projectorJson(const ProjectorSnapshot& snapshot)
{
    QJsonObject json{{"name", snapshot.name},
                     {"device", snapshot.device},
                     {"up", snapshot.up},
                     {"operator", snapshot.operatorPeer}};
    if (snapshot.power)
        json["power"] = powerStateName(*snapshot.power);
    if (snapshot.pjlink)
        json["pjlink"] =
            QJsonObject{{"listen", socketAddressText(*snapshot.pjlink)},
                        {"controllers", QJsonArray::fromStringList(snapshot.pjlinkControllers)}};
    return json;
}

QJsonObject listAnswer(const std::vector<ProjectorSnapshot>& snapshots)
{
    QJsonArray projectors;
    for (const ProjectorSnapshot& snapshot : snapshots)
        projectors.append(projectorJson(snapshot));
    return {{"ok", true}, {"projectors", projectors}};
}

QJsonObject statusAnswer(const ProjectorSnapshot& snapshot, const QDateTime& now)
{
    QJsonObject json = projectorJson(snapshot);
    if (!snapshot.fault.isEmpty())
        json["fault"] = snapshot.fault;
    if (snapshot.lastReply) {
        json["last_reply"] = snapshot.lastReply->toUTC().toString(Qt::ISODateWithMs);
        json["age_seconds"] = std::max<qint64>(0, snapshot.lastReply->secsTo(now));
    }
    json["readings"] = readingsJson(snapshot.readings);
    return {{"ok", true}, {"projector", json}};
}

// Writes the lines to the projector's line one after the other, each once the last was
// answered; stops at the first failure. finished gets the failure, or the last reply.
struct LineRun {
    QPointer<Line> line;
    QString projector;
    QList<QByteArray> lines;
    Origin origin;
    bool wantAcknowledgement = false;
    std::function<void(const std::optional<QString>& failure, const Reply& last)> finished;

    static void next(std::shared_ptr<LineRun> run)
    {
        if (!run->line)
            return;
        const QByteArray command = run->lines.takeFirst();
        Line& line = *run->line;
        line.submit(command, run->origin, [run](const Reply& reply) {
            if (!run->line)
                return;
            const auto failure = replyFailure(
                run->projector, reply, run->line->timing().replyWindow, run->wantAcknowledgement);
            if (failure || run->lines.isEmpty())
                run->finished(failure, reply);
            else
                next(run);
        });
    }
};

} // namespace

std::optional<QString> replyFailure(const QString& projector, const Reply& reply,
                                    std::chrono::milliseconds replyWindow, bool wantAcknowledgement)
{
    QString why;
    switch (reply.outcome) {
    case Reply::Outcome::Answered:
        if (!wantAcknowledgement || reply.bytes == QByteArrayLiteral("\x06"))
            return std::nullopt;
        why = QStringLiteral("the projector answered \"%1\", not its acknowledgement")
                  .arg(escapedReply(reply.bytes));
        break;
    case Reply::Outcome::Silent:
        why = QStringLiteral("no reply within %1 s").arg(seconds(replyWindow));
        break;
    case Reply::Outcome::Unended:
        why = QStringLiteral("no whole reply within %1 s (\"%2\")")
                  .arg(seconds(replyWindow), escapedReply(reply.bytes.left(64)));
        break;
    case Reply::Outcome::Lost:
        if (reply.reason.startsWith(projector + u' ') || reply.reason.startsWith(projector + u':'))
            return reply.reason;
        why = reply.reason.isEmpty() ? QStringLiteral("the device is not there") : reply.reason;
        break;
    case Reply::Outcome::Refused: {
        // The line's reasons may name the projector already.
        const QString named = projector + QStringLiteral(": ");
        why = QStringLiteral("refused: %1")
                  .arg(reply.reason.startsWith(named) ? reply.reason.mid(named.size())
                                                      : reply.reason);
        break;
    }
    }
    return QStringLiteral("%1: %2").arg(projector, why);
}

// One connection: its socket, its peer's user, the bytes of a request not yet whole.
class ControlServer::Client final : public QObject {
public:
    Client(QLocalSocket* connection, QObject* parent)
        : QObject(parent), socket(connection), user(peerUser(connection->socketDescriptor()))
    {
        connection->setParent(this);
    }

    void answer(const QJsonObject& json)
    {
        if (socket->state() == QLocalSocket::ConnectedState)
            socket->write(encodeAnswer(json));
    }

    QLocalSocket* socket;
    QString user;
    QByteArray pending; // at most one line, or the start of one
    bool busy = false;  // a request is running; the next waits in the socket
    bool closing = false;
};

ControlServer::ControlServer(Fleet& fleet, QString path, QObject* parent)
    : QObject(parent), fleet_(fleet), path_(std::move(path))
{
    connect(&server_, &QLocalServer::newConnection, this, &ControlServer::accept);
}

ControlServer::~ControlServer() = default;

QString ControlServer::listen()
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot make the folder %1 for the control socket").arg(folder);
    struct stat status {};
    if (::lstat(QFile::encodeName(path_).constData(), &status) == 0) {
        if (!S_ISSOCK(status.st_mode))
            return QStringLiteral("%1 is in the way of the control socket").arg(path_);
        QLocalSocket probe;
        probe.connectToServer(path_);
        if (probe.waitForConnected(ProbeMs))
            return QStringLiteral("another qx200d answers on %1").arg(path_);
        if (probe.error() != QLocalSocket::ConnectionRefusedError &&
            probe.error() != QLocalSocket::ServerNotFoundError)
            return QStringLiteral("cannot tell whether another qx200d answers on %1: %2")
                .arg(path_, probe.errorString());
        if (!QLocalServer::removeServer(path_))
            return QStringLiteral("cannot remove the stale control socket %1").arg(path_);
    }
    if (!server_.listen(path_))
        return QStringLiteral("cannot listen on %1: %2").arg(path_, server_.errorString());
    // The unit's UMask leaves the socket to the service's user alone; its group may use it.
    if (::chmod(QFile::encodeName(path_).constData(), 0660) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        server_.close();
        return QStringLiteral("cannot open %1 to its group: %2").arg(path_, why);
    }
    return {};
}

void ControlServer::accept()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        auto* client = new Client(socket, this);
        // What waits while a request runs stays in the socket, bounded.
        socket->setReadBufferSize(MaxControlRequestBytes);
        connect(socket, &QLocalSocket::readyRead, client, [this, client] { pump(client); });
        connect(socket, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        if (socket->state() != QLocalSocket::ConnectedState)
            client->deleteLater();
        else
            pump(client);
    }
}

void ControlServer::pump(Client* client)
{
    while (!client->busy && !client->closing) {
        qsizetype end = client->pending.indexOf('\n');
        if (end < 0) {
            const qint64 room = MaxControlRequestBytes + 1 - client->pending.size();
            if (room > 0)
                client->pending += client->socket->read(room);
            end = client->pending.indexOf('\n');
        }
        if (end < 0) {
            if (client->pending.size() <= MaxControlRequestBytes)
                return; // the rest of the line is still to come
            client->closing = true;
            client->pending.clear();
            log(client->user, QStringLiteral("request too long, closed"));
            client->answer(failureAnswer(QStringLiteral("request longer than %1 bytes; closed")
                                             .arg(MaxControlRequestBytes)));
            client->socket->disconnectFromServer();
            return;
        }
        QByteArray line = client->pending.left(end);
        client->pending.remove(0, end + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (!line.trimmed().isEmpty())
            handle(client, line);
    }
}

void ControlServer::handle(Client* client, const QByteArray& line)
{
    const DecodedRequest decoded = decodeRequest(line);
    if (!decoded.request)
        return refuse(client, QStringLiteral("bad request: %1").arg(decoded.error));
    const ControlRequest& request = *decoded.request;
    QStringList unknown;
    for (const QString& name : request.projectors)
        if (!fleet_.find(name))
            unknown << name;
    if (!unknown.isEmpty())
        return refuse(client, QStringLiteral("%1: no such projector").arg(unknown.join(", ")));

    switch (request.command) {
    case ControlCommand::List:
        return client->answer(listAnswer(fleet_.snapshots()));
    case ControlCommand::Status:
        return client->answer(statusAnswer(fleet_.find(request.projectors.first())->snapshot(),
                                           QDateTime::currentDateTimeUtc()));
    case ControlCommand::Power:
    case ControlCommand::Input:
    case ControlCommand::Mute:
    case ControlCommand::Send:
        return change(client, request);
    }
}

void ControlServer::change(Client* client, const ControlRequest& request)
{
    // What every projector's run reports into; the answer goes once the last has ended, to a
    // client that may be gone by then.
    struct Gathered {
        QPointer<ControlServer> server;
        QPointer<Client> client;
        QString user;
        ControlCommand command;
        QStringList projectors;
        std::vector<std::optional<QString>> failures;
        QByteArray reply; // send's
        qsizetype remaining = 0;
    };
    auto gathered = std::make_shared<Gathered>();
    gathered->server = this;
    gathered->client = client;
    gathered->user = client->user;
    gathered->command = request.command;
    gathered->projectors = request.projectors;
    gathered->failures.resize(std::size_t(request.projectors.size()));
    gathered->remaining = request.projectors.size();

    auto conclude = [gathered] {
        QStringList errors;
        for (const auto& failure : gathered->failures)
            if (failure)
                errors << *failure;
        for (const QString& error : errors)
            log(gathered->user, error);
        if (!gathered->client)
            return;
        QJsonObject answer{{"ok", errors.isEmpty()}};
        if (!errors.isEmpty())
            answer["error"] = errors.join(QStringLiteral("; "));
        if (gathered->command == ControlCommand::Send) {
            answer["projector"] = gathered->projectors.first();
            if (errors.isEmpty())
                answer["reply"] = escapedReply(gathered->reply);
        } else {
            QJsonArray results;
            for (qsizetype i = 0; i < gathered->projectors.size(); ++i) {
                const auto& failure = gathered->failures[std::size_t(i)];
                QJsonObject result{{"projector", gathered->projectors[i]}, {"ok", !failure}};
                if (failure)
                    result["error"] = *failure;
                results.append(result);
            }
            answer["results"] = results;
        }
        Client* target = gathered->client;
        target->answer(answer);
        target->busy = false;
        if (gathered->server)
            gathered->server->pump(target);
    };

    client->busy = true;
    const Origin origin{Priority::Controller, QStringLiteral("%1 (qx200ctl)").arg(client->user)};
    for (qsizetype i = 0; i < request.projectors.size(); ++i) {
        auto run = std::make_shared<LineRun>();
        run->line = &fleet_.find(request.projectors[i])->line();
        run->projector = request.projectors[i];
        run->lines = commandLines(request);
        run->origin = origin;
        run->wantAcknowledgement = request.command != ControlCommand::Send;
        run->finished = [gathered, i, conclude](const std::optional<QString>& failure,
                                                const Reply& last) {
            gathered->failures[std::size_t(i)] = failure;
            gathered->reply = last.bytes;
            if (--gathered->remaining == 0)
                conclude();
        };
        LineRun::next(run);
    }
}

void ControlServer::refuse(Client* client, const QString& error)
{
    log(client->user, error);
    client->answer(failureAnswer(error));
}

void ControlServer::log(const QString& user, const QString& text)
{
    std::fputs(
        QStringLiteral("qx200d: control: %1: %2\n").arg(user, text).toLocal8Bit().constData(),
        stderr);
    std::fflush(stderr);
}

} // namespace qx200
