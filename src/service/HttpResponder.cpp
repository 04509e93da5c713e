#include "service/HttpResponder.h"

#include <QSocketNotifier>
#include <QSslSocket>
#include <QTcpSocket>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qx200 {

namespace {

struct StatusText {
    int status;
    const char* text;
};

constexpr std::array<StatusText, 12> StatusTexts{{
    {200, "OK"},
    {400, "Bad Request"},
    {401, "Unauthorized"},
    {403, "Forbidden"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {429, "Too Many Requests"},
    {431, "Request Header Fields Too Large"},
    {500, "Internal Server Error"},
    {503, "Service Unavailable"},
    {505, "HTTP Version Not Supported"},
}};

const char* reasonPhrase(int status)
{
    for (const StatusText& entry : StatusTexts) {
        if (entry.status == status)
            return entry.text;
    }
    return "Error";
}

// "http://host:port/path" becomes "/path"; an origin-form target stays as it is.
std::optional<QByteArray> originForm(const QByteArray& target)
{
    if (target.startsWith('/'))
        return target;
    for (const char* scheme : {"http://", "https://"}) {
        if (target.startsWith(scheme)) {
            const qsizetype slash = target.indexOf('/', qsizetype(std::strlen(scheme)));
            return slash < 0 ? QByteArray("/") : target.mid(slash);
        }
    }
    return std::nullopt;
}

int openReserve()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

} // namespace

HttpResponse plainResponse(int status, const QByteArray& text)
{
    return {status, "text/plain; charset=utf-8", text + '\n'};
}

qsizetype requestHeadEnd(QByteArrayView bytes)
{
    // The blank line ends the head; a recipient accepts a bare LF for CRLF.
    for (qsizetype lf = bytes.indexOf('\n'); lf >= 0; lf = bytes.indexOf('\n', lf + 1)) {
        const qsizetype next = lf + 1;
        if (next < bytes.size() && bytes[next] == '\n')
            return next + 1;
        if (next + 1 < bytes.size() && bytes[next] == '\r' && bytes[next + 1] == '\n')
            return next + 2;
    }
    return -1;
}

std::optional<HttpRequest> parseRequestHead(QByteArrayView head)
{
    QList<QByteArray> lines = head.toByteArray().split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> parts = lines.first().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1."))
        return std::nullopt;
    const std::optional<QByteArray> target = originForm(parts[1]);
    if (!target)
        return std::nullopt;
    const qsizetype query = target->indexOf('?');
    HttpRequest request{parts[0], query < 0 ? *target : target->first(query), {}, {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = lines[i].first(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "accept-encoding")
            request.acceptEncoding = value;
        else if (name == "authorization")
            request.authorization = value;
    }
    return request;
}

QByteArray responseBytes(const HttpResponse& response, bool withBody)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\n";
    for (const auto& [name, value] : response.headers)
        bytes += name + ": " + value + "\r\n";
    bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    if (withBody)
        bytes += response.body;
    return bytes;
}

HttpResponder::HttpResponder(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)), reserve_(openReserve())
{
}

HttpResponder::~HttpResponder()
{
    // The connections go first, while the list they leave is still there.
    qDeleteAll(findChildren<QTcpSocket*>(Qt::FindDirectChildrenOnly));
    if (reserve_ >= 0)
        ::close(reserve_);
}

bool HttpResponder::listen(const QHostAddress& address, quint16 port,
                           QAbstractSocket::SocketError* error, QString* errorText)
{
    auto server = std::make_unique<QTcpServer>();
    if (!server->listen(address, port)) {
        *error = server->serverError();
        *errorText = server->errorString();
        return false;
    }
    // The server binds and listens; connections are taken here, where running out of
    // descriptors is handled (the server itself would try again and again).
    server->pauseAccepting();
    const int fd = int(server->socketDescriptor());
    auto* readable = new QSocketNotifier(fd, QSocketNotifier::Read, server.get());
    connect(readable, &QSocketNotifier::activated, this,
            [this, fd, readable] { accept(fd, *readable); });
    servers_.push_back(std::move(server));
    return true;
}

quint16 HttpResponder::port() const
{
    return servers_.empty() ? 0 : servers_.front()->serverPort();
}

void HttpResponder::accept(int listening, QSocketNotifier& readable)
{
    for (;;) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            take(fd);
            continue;
        }
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            if (makeRoom())
                continue;
            // Nothing to give up: wait a moment rather than fail in a loop.
            readable.setEnabled(false);
            QTimer::singleShot(AcceptPauseMs, &readable,
                               [&readable] { readable.setEnabled(true); });
        }
        break; // EAGAIN: all taken; anything else: the next notification tries again
    }
    if (reserve_ < 0)
        reserve_ = openReserve();
}

// Out of descriptors: the oldest connection still waiting for its request, or else the reserve,
// makes room for the next one.
bool HttpResponder::makeRoom()
{
    if (!sockets_.empty()) {
        closeOldest();
        return true;
    }
    if (reserve_ >= 0) {
        ::close(reserve_);
        reserve_ = -1;
        return true;
    }
    return false;
}

void HttpResponder::take(int fd)
{
    QTcpSocket* socket = tls_ ? new QSslSocket(this) : new QTcpSocket(this);
    if (!socket->setSocketDescriptor(fd)) {
        ::close(fd);
        delete socket;
        return;
    }
    if (connections() >= MaxConnections)
        closeOldest();
    sockets_.push_back(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { forget(socket); });
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        secure->setSslConfiguration(*tls_);
        secure->startServerEncryption(); // a failed handshake ends the connection
    }
    serve(socket);
}

void HttpResponder::closeOldest()
{
    if (sockets_.empty())
        return;
    QTcpSocket* oldest = sockets_.front();
    sockets_.pop_front();
    oldest->disconnect(this);
    oldest->abort();
    oldest->deleteLater();
}

void HttpResponder::forget(QTcpSocket* socket)
{
    sockets_.remove(socket);
}

void HttpResponder::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto respond = [this, socket](const HttpResponse& response, bool withBody) {
        QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
        forget(socket); // answered: no longer idle
        socket->write(responseBytes(response, withBody));
        socket->disconnectFromHost();
    };
    // A client that never finishes its request does not keep the connection.
    QTimer::singleShot(IdleTimeoutMs, socket, [socket, respond] {
        if (socket->state() == QAbstractSocket::ConnectedState)
            respond(plainResponse(408, "request not finished in time"), true);
    });
    auto head = std::make_shared<QByteArray>();
    auto read = [this, socket, head, respond] {
        *head += socket->readAll();
        const qsizetype end = requestHeadEnd(*head);
        if (end < 0 && head->size() <= MaxRequestHead)
            return;
        if (end < 0 || end > MaxRequestHead)
            return respond(plainResponse(431, "request head too long"), true);
        const std::optional<HttpRequest> request = parseRequestHead(head->first(end));
        if (!request)
            return respond(plainResponse(400, "not an HTTP/1 request"), true);
        respond(handler_(*request), request->method != "HEAD");
    };
    connect(socket, &QTcpSocket::readyRead, socket, read);
    if (socket->bytesAvailable() > 0)
        read();
}

} // namespace qx200
