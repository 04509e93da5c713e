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
// Everything written (the line's bytes and the Telnet replies) shares one bound on what waits
// for the server: a server that lets it fill, asking and never reading, is a failing device.
class NetworkLink final : public DeviceLink {
    Q_OBJECT

public:
    static constexpr int ConnectTimeoutMs = 3000;
    // Bytes that may wait for the server to read them.
    static constexpr qint64 MaxUnread = 64 * 1024;

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
    bool send(const QByteArray& bytes);
    void sendSettingsOnceAgreed();
    void tellSpeedRefused();

    QString host_;
    quint16 port_;
    std::optional<TelnetCodec> telnet_;
    bool settingsSent_ = false;
    bool refused_ = false; // a write was refused: writable() is owed
    bool stalled_ = false; // the server let the bound fill: failed() was told
    bool speedRefusalTold_ = false;
    LineSettings settings_;
    QTcpSocket socket_;
    QTimer connectTimeout_;
    QByteArray inbox_;
};

} // namespace qx200
