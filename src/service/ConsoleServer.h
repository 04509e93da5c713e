#pragma once

// A projector's console address: a TCP listener that carries raw bytes between one console and
// the projector's line, so that the console attaches with `--com1 tcp:HOST:PORT` as it would to
// a serial server. The connected console is the line's operator: its lines (cut at each carriage
// return) go out as the line lets them, and what the line hands the operator comes back.
//
// One console at a time: a second connection is closed at once, told why in one line, and
// logged. While the line's device is away the console's connection is closed (the console tells
// its operator and tries again), and new ones are closed at once until the device is back.

#include "service/FleetConfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <memory>
#include <vector>

class QTcpSocket;

namespace qx200 {

class Fleet;
class Line;
class Projector;

class ConsoleServer final : public QObject {
    Q_OBJECT

public:
    // A line longer than this without its carriage return is garbage: the console is dropped.
    static constexpr qsizetype MaxLineBytes = 1024;
    // A console that lets more than this wait unsent does not read: it is dropped.
    static constexpr qint64 MaxUnsentBytes = 64 * 1024;

    explicit ConsoleServer(Line& line, QObject* parent = nullptr);
    ~ConsoleServer() override;

    // Empty when listening, otherwise why not.
    QString listen(const SocketAddress& at);
    quint16 port() const { return server_.serverPort(); }
    // The attached console, "127.0.0.1:40312"; empty when none.
    const QString& peer() const { return peer_; }

private:
    void accept();
    void refuse(QTcpSocket* socket, const QString& why);
    void readable();
    void closed();
    void deliver(const QByteArray& bytes);
    void lineLost();
    void drop(const QString& why);
    void release();
    void log(const QString& text) const;

    Line& line_;
    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    QString peer_;
    QByteArray partial_;              // the console's bytes since its last carriage return
    QSet<QHostAddress> refusedHosts_; // logged while this console is attached
};

// "127.0.0.1:40312", "[::1]:40312"; an IPv4 client of an IPv6 listener as IPv4.
QString peerText(const QHostAddress& address, quint16 port);

// Where a console connects to a listener on that address: the listener's own address, or the
// loopback one for a listener on every address.
QString consoleAttachAddress(const SocketAddress& listening);

// The console servers of a fleet and the file that tells consoles where they are. Projectors a
// reload adds or removes get or lose theirs; the others keep theirs, attached consoles and all.
class Consoles {
public:
    explicit Consoles(Fleet& fleet);
    ~Consoles(); // removes the file
    Consoles(const Consoles&) = delete;
    Consoles& operator=(const Consoles&) = delete;

    // Listens on every projector's console address and writes the file into the service's
    // run-time folder. Empty on success, otherwise why the service cannot start ("hall-1:
    // cannot listen on the console address 127.0.0.1:4660: The bound address is already in
    // use"). A file that cannot be written is logged, not fatal: it only helps consoles.
    QString start();

private:
    struct Served {
        const Projector* projector;
        std::unique_ptr<ConsoleServer> server;
    };

    QString serve(Projector& projector);
    void writeFile();

    Fleet& fleet_;
    std::vector<Served> servers_;
    std::vector<QMetaObject::Connection> reloads_;
    QString file_; // written, to be removed at exit
};
} // namespace qx200
