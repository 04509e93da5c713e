#include "service/ConsoleServer.h"

#include "serial/ConsoleAddresses.h"
#include "serial/ServicePaths.h"
#include "service/Fleet.h"
#include "service/Line.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTcpSocket>
#include <cerrno>
#include <cstdio>
#include <sys/socket.h>

namespace qx200 {

namespace {

// Whether the peer has hung up though the event loop has not told it yet: nothing more to read
// before the end of the stream, or the connection broken.
bool hungUp(const QTcpSocket& socket)
{
    const qintptr fd = socket.socketDescriptor();
    if (fd < 0)
        return true;
    char byte = 0;
    const ssize_t n = ::recv(int(fd), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

void printLine(const QString& text)
{
    std::fputs(QStringLiteral("qx200d: %1\n").arg(text).toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

} // namespace

QString peerText(const QHostAddress& address, quint16 port)
{
    bool ipv4 = false;
    const quint32 v4 = address.toIPv4Address(&ipv4);
    return socketAddressText({ipv4 ? QHostAddress(v4) : address, port});
}

QString consoleAttachAddress(const SocketAddress& listening)
{
    SocketAddress at = listening;
    if (at.address == QHostAddress::AnyIPv6)
        at.address = QHostAddress::LocalHostIPv6;
    else if (at.address == QHostAddress::AnyIPv4 || at.address == QHostAddress::Any)
        at.address = QHostAddress::LocalHost;
    return socketAddressText(at);
}

ConsoleServer::ConsoleServer(Line& line, QObject* parent) : QObject(parent), line_(line)
{
    connect(&server_, &QTcpServer::newConnection, this, &ConsoleServer::accept);
    connect(&line_, &Line::toOperator, this, &ConsoleServer::deliver);
    connect(&line_, &Line::lost, this, &ConsoleServer::lineLost);
}

ConsoleServer::~ConsoleServer()
{
    if (client_)
        release();
}

QString ConsoleServer::listen(const SocketAddress& at)
{
    return server_.listen(at.address, at.port) ? QString() : server_.errorString();
}

void ConsoleServer::accept()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const QString from = peerText(socket->peerAddress(), socket->peerPort());
        // While the device is away nothing would reach it: the console tries again later.
        if (!line_.ready()) {
            refuse(socket, line_.fault().isEmpty()
                               ? QStringLiteral("%1: the line is not open").arg(line_.config().name)
                               : line_.fault());
            continue;
        }
        // A console that connects again at once (it reopens its port) is not refused by its
        // own last connection, whose hang-up may still wait in the event loop.
        if (client_ && hungUp(*client_))
            closed();
        if (client_ || !line_.attach(from + QStringLiteral(" (console)"))) {
            const QString holder = client_ ? peer_ : line_.operatorPeer();
            // A refused console tries again and again; its host is logged once per holder.
            if (!refusedHosts_.contains(socket->peerAddress())) {
                refusedHosts_.insert(socket->peerAddress());
                log(QStringLiteral("console from %1 refused: %2 is attached").arg(from, holder));
            }
            refuse(socket, QStringLiteral("%1: %2 is attached").arg(line_.config().name, holder));
            continue;
        }
        // A small kernel buffer, so that a console that stops reading shows in bytesToWrite
        // after kilobytes rather than megabytes.
        socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(MaxUnsentBytes));
        client_ = socket;
        peer_ = from;
        partial_.clear();
        refusedHosts_.clear();
        connect(socket, &QTcpSocket::readyRead, this, &ConsoleServer::readable);
        connect(socket, &QTcpSocket::disconnected, this, &ConsoleServer::closed);
        log(QStringLiteral("console %1 attached").arg(peer_));
        if (socket->bytesAvailable() > 0)
            readable();
    }
}

// Says why in one line (a console shows what a server said before hanging up) and hangs up.
void ConsoleServer::refuse(QTcpSocket* socket, const QString& why)
{
    socket->write(QStringLiteral("qx200d: %1\r\n").arg(why).toUtf8());
    socket->flush();
    socket->disconnectFromHost();
    socket->deleteLater();
}

void ConsoleServer::readable()
{
    const QPointer<QTcpSocket> client = client_;
    partial_ += client_->readAll();
    qsizetype start = 0;
    for (qsizetype cr = partial_.indexOf('\r'); cr >= 0; cr = partial_.indexOf('\r', start)) {
        if (cr - start > MaxLineBytes)
            return drop(QStringLiteral("garbage: more than %1 bytes without a carriage return")
                            .arg(MaxLineBytes));
        line_.fromOperator(partial_.sliced(start, cr + 1 - start));
        if (client_ != client)
            return; // dropped meanwhile
        start = cr + 1;
    }
    partial_.remove(0, start);
    if (partial_.size() > MaxLineBytes)
        drop(QStringLiteral("garbage: more than %1 bytes without a carriage return")
                 .arg(MaxLineBytes));
}

void ConsoleServer::closed()
{
    readable(); // what came with the hang-up
    if (!client_)
        return;
    if (!partial_.isEmpty())
        log(QStringLiteral("console %1 left in the middle of a line; its %2 bytes are not "
                           "written")
                .arg(peer_)
                .arg(partial_.size()));
    log(QStringLiteral("console %1 detached").arg(peer_));
    release();
}

void ConsoleServer::deliver(const QByteArray& bytes)
{
    if (!client_)
        return;
    client_->write(bytes);
    if (client_->bytesToWrite() > MaxUnsentBytes)
        drop(QStringLiteral("it does not read (more than %1 KiB wait unsent)")
                 .arg(MaxUnsentBytes / 1024));
}

// The console notices the closed connection as a lost device, tells its operator and connects
// again; it is let in once the device is back.
void ConsoleServer::lineLost()
{
    if (!client_)
        return;
    log(QStringLiteral("console %1 closed: the line is lost").arg(peer_));
    release();
}

void ConsoleServer::drop(const QString& why)
{
    log(QStringLiteral("console %1 dropped: %2").arg(peer_, why));
    release();
}

void ConsoleServer::release()
{
    QTcpSocket* socket = client_;
    client_ = nullptr;
    peer_.clear();
    partial_.clear();
    refusedHosts_.clear();
    line_.detach();
    socket->disconnect(this);
    socket->flush(); // what the kernel takes still reaches the console
    socket->abort();
    socket->deleteLater();
}

void ConsoleServer::log(const QString& text) const
{
    printLine(QStringLiteral("%1: %2").arg(line_.config().name, text));
}

Consoles::Consoles(Fleet& fleet) : fleet_(fleet) {}

Consoles::~Consoles()
{
    for (const QMetaObject::Connection& connection : reloads_)
        QObject::disconnect(connection);
    servers_.clear();
    if (!file_.isEmpty())
        QFile::remove(file_);
}

QString Consoles::serve(Projector& projector)
{
    const ProjectorConfig& config = projector.config();
    if (!config.console)
        return {};
    auto server = std::make_unique<ConsoleServer>(projector.line());
    if (const QString why = server->listen(*config.console); !why.isEmpty())
        return QStringLiteral("%1: cannot listen on the console address %2: %3")
            .arg(config.name, socketAddressText(*config.console), why);
    servers_.push_back({&projector, std::move(server)});
    return {};
}

QString Consoles::start()
{
    for (const auto& projector : fleet_.projectors()) {
        if (const QString why = serve(*projector); !why.isEmpty())
            return why;
    }
    writeFile();
    reloads_.push_back(QObject::connect(&fleet_, &Fleet::added, [this](Projector& projector) {
        if (const QString why = serve(projector); !why.isEmpty())
            printLine(why);
        writeFile();
    }));
    reloads_.push_back(QObject::connect(&fleet_, &Fleet::removing, [this](Projector& projector) {
        std::erase_if(servers_, [&](const Served& s) { return s.projector == &projector; });
        writeFile();
    }));
    return {};
}

void Consoles::writeFile()
{
    QList<ConsoleAddress> addresses;
    for (const Served& served : servers_) {
        const ProjectorConfig& config = served.projector->config();
        addresses.append({config.device, consoleAttachAddress(*config.console)});
    }
    if (addresses.isEmpty()) {
        if (!file_.isEmpty())
            QFile::remove(file_);
        file_.clear();
        return;
    }
    const QString folder = serviceRuntimeDirectory();
    if (const QString why = writeConsoleAddresses(folder, addresses); !why.isEmpty())
        printLine(QStringLiteral("cannot tell consoles where to attach: %1").arg(why));
    else
        file_ = QDir(folder).filePath(QLatin1String(ConsoleAddressesFileName));
}

} // namespace qx200
