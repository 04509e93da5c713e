#pragma once

// A small HTTP/1.x responder on the event loop: one GET per connection, answered and closed.
// Enough for a Prometheus scrape and a browser; no threads of its own.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <functional>
#include <optional>

namespace qx200 {

struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
};

struct HttpRequest {
    QByteArray method;
    QByteArray path; // without the query string
};

// A request's head is at most this long; a longer one is refused.
inline constexpr qsizetype MaxRequestHead = 8192;

// The request line of a request head ("GET /metrics?x=1 HTTP/1.1\r\n..."); nothing when the
// head is no HTTP request.
std::optional<HttpRequest> parseRequestHead(QByteArrayView head);

// The bytes of a response; a HEAD request gets the headers alone.
QByteArray responseBytes(const HttpResponse& response, bool withBody);

class HttpResponder final : public QObject {
    Q_OBJECT

public:
    // Answers a GET (or HEAD) of a path.
    using Handler = std::function<HttpResponse(const QByteArray& path)>;

    static constexpr int IdleTimeoutMs = 10000;

    explicit HttpResponder(Handler handler, QObject* parent = nullptr);

    // False when the address cannot be listened on; errorString() says why.
    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return server_.errorString(); }
    quint16 port() const { return server_.serverPort(); }

private:
    void accept();
    HttpResponse answer(const HttpRequest& request) const;

    Handler handler_;
    QTcpServer server_;
};

} // namespace qx200
