#include "serial/NetworkLink.h"

#include <utility>

namespace qx200 {
namespace {

struct SocketFailure {
    QAbstractSocket::SocketError error;
    const char* reason;
};
constexpr SocketFailure SocketFailures[] = {
    {QAbstractSocket::ConnectionRefusedError, "Connection refused (is the serial server running?)"},
    {QAbstractSocket::HostNotFoundError, "host not found (check the host name)"},
    {QAbstractSocket::RemoteHostClosedError,
     "device disconnected (the serial server closed the connection)"},
    {QAbstractSocket::NetworkError, "network unreachable (check the network connection)"},
    {QAbstractSocket::SocketAccessError, "network access refused (check the firewall)"},
};

QString reasonFor(QAbstractSocket::SocketError error, const QString& fallback)
{
    for (const auto& [known, reason] : SocketFailures) {
        if (known == error)
            return QString::fromLatin1(reason);
    }
    return fallback;
}

} // namespace

NetworkLink::NetworkLink(const QString& host, quint16 port, bool telnet) : host_(host), port_(port)
{
    if (telnet)
        telnet_.emplace();
    connectTimeout_.setSingleShot(true);
    connectTimeout_.setInterval(ConnectTimeoutMs);
    connect(&connectTimeout_, &QTimer::timeout, this, [this] {
        close();
        emit failed(QStringLiteral("no answer within %1 s (is the address right and the serial "
                                   "server reachable?)")
                        .arg(ConnectTimeoutMs / 1000));
    });
    connect(&socket_, &QTcpSocket::connected, this, &NetworkLink::connected);
    connect(&socket_, &QTcpSocket::readyRead, this, &NetworkLink::arrived);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &NetworkLink::socketFailed);
    // Told only after a refused write: the socket also reports bytes written from inside
    // write() itself.
    connect(&socket_, &QTcpSocket::bytesWritten, this, [this] {
        if (refused_ && socket_.bytesToWrite() == 0) {
            refused_ = false;
            emit writable();
        }
    });
}

void NetworkLink::open(const LineSettings& settings)
{
    close();
    settings_ = settings;
    inbox_.clear();
    stalled_ = false;
    socket_.connectToHost(host_, port_);
    connectTimeout_.start();
}

void NetworkLink::close()
{
    connectTimeout_.stop();
    refused_ = false;
    const QSignalBlocker quiet(socket_); // a closing asked for is no failure
    socket_.abort();
}

void NetworkLink::connected()
{
    connectTimeout_.stop();
    // Each line goes out at once, not held back to be sent with the next one.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    socket_.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (telnet_) {
        settingsSent_ = false;
        send(telnet_->start());
    }
    emit up();
}

void NetworkLink::apply(const LineSettings& settings)
{
    settings_ = settings;
    if (telnet_ && settingsSent_)
        send(TelnetCodec::comPortSettings(settings_));
}

void NetworkLink::sendSettingsOnceAgreed()
{
    if (settingsSent_ || !telnet_->comPortAgreed())
        return;
    settingsSent_ = true;
    send(TelnetCodec::comPortSettings(settings_));
}

// False, with the link failed and closed, when the server has left too much unread.
bool NetworkLink::send(const QByteArray& bytes)
{
    if (stalled_)
        return false;
    if (socket_.bytesToWrite() + bytes.size() > MaxUnread) {
        stalled_ = true;
        close();
        emit failed(QStringLiteral("the serial server does not read what is sent"));
        return false;
    }
    socket_.write(bytes);
    socket_.flush();
    return true;
}

// The socket keeps what it could not hand to the kernel; while it keeps anything, the server is
// not reading and the link takes nothing more, so that the console's queue decides what waits.
qint64 NetworkLink::write(QByteArrayView bytes)
{
    if (stalled_)
        return -1;
    if (socket_.state() != QAbstractSocket::ConnectedState || socket_.bytesToWrite() > 0) {
        refused_ = true;
        return 0;
    }
    return send(telnet_ ? TelnetCodec::escape(bytes) : bytes.toByteArray()) ? bytes.size() : -1;
}

void NetworkLink::arrived()
{
    if (stalled_)
        return;
    QByteArray bytes = socket_.readAll();
    if (telnet_) {
        TelnetCodec::Received received = telnet_->receive(bytes);
        if (!received.replies.isEmpty() && !send(received.replies))
            return;
        sendSettingsOnceAgreed();
        tellSpeedRefused();
        bytes = std::move(received.data);
    }
    if (bytes.isEmpty() || stalled_)
        return;
    inbox_ += bytes;
    emit readyRead();
}

// Told once for the link's life: every reconnection meets the same server.
void NetworkLink::tellSpeedRefused()
{
    if (speedRefusalTold_ || !telnet_->comPortRefused())
        return;
    speedRefusalTold_ = true;
    emit told(QStringLiteral(
        "the serial server does not set the speed: the line runs at the server's own"));
}

QByteArray NetworkLink::readAll()
{
    return std::exchange(inbox_, {});
}

void NetworkLink::socketFailed(QAbstractSocket::SocketError error)
{
    connectTimeout_.stop();
    emit failed(reasonFor(error, socket_.errorString()));
}

} // namespace qx200
