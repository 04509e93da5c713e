#include "service/HttpResponder.h"

#include <QTcpSocket>
#include <QTimer>
#include <array>
#include <memory>

namespace qx200 {

namespace {

struct StatusText {
    int status;
    const char* text;
};

constexpr std::array<StatusText, 6> StatusTexts{{
    {200, "OK"},
    {400, "Bad Request"},
    {404, "Not Found"},
    {405, "Method Not Allowed"},
    {408, "Request Timeout"},
    {431, "Request Header Fields Too Large"},
}};

const char* reasonPhrase(int status)
{
    for (const StatusText& entry : StatusTexts) {
        if (entry.status == status)
            return entry.text;
    }
    return "Error";
}

HttpResponse plain(int status, const QByteArray& text)
{
    return {status, "text/plain; charset=utf-8", text + '\n'};
}

} // namespace

std::optional<HttpRequest> parseRequestHead(QByteArrayView head)
{
    const qsizetype lineEnd = head.indexOf("\r\n");
    const QList<QByteArray> parts =
        (lineEnd < 0 ? head : head.first(lineEnd)).toByteArray().split(' ');
    if (parts.size() != 3 || !parts[2].startsWith("HTTP/1.") || !parts[1].startsWith('/'))
        return std::nullopt;
    const qsizetype query = parts[1].indexOf('?');
    return HttpRequest{parts[0], query < 0 ? parts[1] : parts[1].first(query)};
}

QByteArray responseBytes(const HttpResponse& response, bool withBody)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\n";
    if (response.status == 405)
        bytes += "Allow: GET, HEAD\r\n";
    bytes += "Content-Type: " + response.contentType + "\r\n";
    bytes += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    bytes += "Connection: close\r\n\r\n";
    if (withBody)
        bytes += response.body;
    return bytes;
}

HttpResponder::HttpResponder(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler))
{
    connect(&server_, &QTcpServer::newConnection, this, &HttpResponder::accept);
}

bool HttpResponder::listen(const QHostAddress& address, quint16 port)
{
    return server_.listen(address, port);
}

HttpResponse HttpResponder::answer(const HttpRequest& request) const
{
    if (request.method != "GET" && request.method != "HEAD")
        return plain(405, "only GET and HEAD are served");
    return handler_(request.path);
}

void HttpResponder::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        auto respond = [socket](const HttpResponse& response, bool withBody) {
            QObject::disconnect(socket, &QTcpSocket::readyRead, nullptr, nullptr);
            socket->write(responseBytes(response, withBody));
            socket->disconnectFromHost();
        };
        // A client that never finishes its request does not keep the connection.
        QTimer::singleShot(IdleTimeoutMs, socket, [socket, respond] {
            if (socket->state() == QAbstractSocket::ConnectedState)
                respond(plain(408, "request not finished in time"), true);
        });
        auto head = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head, respond] {
            *head += socket->readAll();
            const qsizetype end = head->indexOf("\r\n\r\n");
            if (end < 0 && head->size() <= MaxRequestHead)
                return;
            if (end < 0 || end > MaxRequestHead)
                return respond(plain(431, "request head too long"), true);
            const std::optional<HttpRequest> request = parseRequestHead(head->first(end));
            if (!request)
                return respond(plain(400, "not an HTTP/1 request"), true);
            respond(answer(*request), request->method != "HEAD");
        });
    }
}

} // namespace qx200
