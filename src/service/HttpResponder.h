#pragma once

// A small HTTP/1.x responder on the event loop: one request per connection, answered and closed.
// Enough for a Prometheus scrape and a browser; no threads of its own. Plain TCP, or TLS when
// given a certificate.
//
// Descriptors are spent with care: at most MaxConnections at once (a new one closes the oldest
// that has not finished its request), and one descriptor is kept in reserve; when the process
// runs out of them, the oldest idle connection (or the reserve) is given up so that the next
// scrape is still answered, and with nothing to give up accepting pauses briefly instead of
// failing in a loop.

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTimer>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSocketNotifier;
class QTcpSocket;

namespace qx200 {

struct HttpResponse {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    std::vector<std::pair<QByteArray, QByteArray>> headers = {}; // beyond the usual ones
};

struct HttpRequest {
    QByteArray method;
    QByteArray path;           // without the query string
    QByteArray acceptEncoding; // the headers the service looks at, empty when absent
    QByteArray authorization;
    friend bool operator==(const HttpRequest&, const HttpRequest&) = default;
};

// A request's head is at most this long; a longer one is refused.
inline constexpr qsizetype MaxRequestHead = 8192;

// The request of a request head ("GET /metrics?x=1 HTTP/1.1\r\nHost: ..."), its lines ended by
// CRLF or a bare LF, the target in origin or absolute form; nothing when the head is no HTTP
// request.
std::optional<HttpRequest> parseRequestHead(QByteArrayView head);

// Where a request head ends, counting the blank line; -1 while it has not ended.
qsizetype requestHeadEnd(QByteArrayView bytes);

// The bytes of a response; a HEAD request gets the headers alone.
QByteArray responseBytes(const HttpResponse& response, bool withBody);

// A plain-text response.
HttpResponse plainResponse(int status, const QByteArray& text);

class HttpResponder final : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest& request)>;

    static constexpr int IdleTimeoutMs = 10000;
    static constexpr int MaxConnections = 256;
    static constexpr int AcceptPauseMs = 100;

    explicit HttpResponder(Handler handler, QObject* parent = nullptr);
    ~HttpResponder() override;

    // Connections made after this speak TLS with the configuration's certificate and key.
    void useTls(const QSslConfiguration& configuration) { tls_ = configuration; }

    // Adds a listening address; false when it cannot be listened on, and *error says why.
    bool listen(const QHostAddress& address, quint16 port, QAbstractSocket::SocketError* error,
                QString* errorText);
    // The port of the first address.
    quint16 port() const;
    qsizetype connections() const { return qsizetype(sockets_.size()); }

private:
    void accept(int listening, QSocketNotifier& readable);
    bool makeRoom();
    void take(int fd);
    void serve(QTcpSocket* socket);
    void closeOldest();
    void forget(QTcpSocket* socket);

    Handler handler_;
    std::optional<QSslConfiguration> tls_;
    std::vector<std::unique_ptr<QTcpServer>> servers_;
    std::list<QTcpSocket*> sockets_; // oldest first; those answered leave at once
    int reserve_ = -1;               // a descriptor kept for the moment there are no more
};

} // namespace qx200
