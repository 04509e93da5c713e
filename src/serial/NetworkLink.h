#pragma once

#include "serial/DeviceLink.h"
#include "serial/TelnetCodec.h"

#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace qx200 {

// A serial server reached over TCP: the line's bytes unchanged, or (with Telnet) the line inside
// a Telnet stream whose COM-PORT option carries the console's speed to the server's UART.
// Connecting never waits: it is started, and time-boxed by a timer.
class NetworkLink final : public DeviceLink {
    Q_OBJECT

public:
    static constexpr int ConnectTimeoutMs = 3000;

    NetworkLink(const QString& host, quint16 port, bool telnet);
    ~NetworkLink() override { close(); }

    bool immediate() const override { return false; }
    void open(const LineSettings& settings) override;
    void close() override;
    void apply(const LineSettings& settings) override;
    qint64 write(QByteArrayView bytes) override;
    QByteArray readAll() override;

private:
    void connected();
    void arrived();
    void socketFailed(QAbstractSocket::SocketError error);
    void send(const QByteArray& bytes);
    void sendSettingsOnceAgreed();

    QString host_;
    quint16 port_;
    std::optional<TelnetCodec> telnet_;
    bool settingsSent_ = false;
    bool refused_ = false; // a write was refused: writable() is owed
    LineSettings settings_;
    QTcpSocket socket_;
    QTimer connectTimeout_;
    QByteArray inbox_;
};

} // namespace qx200
