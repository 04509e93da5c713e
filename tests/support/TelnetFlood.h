#pragma once

// A hostile serial server's behaviour on an accepted connection: a Telnet option request
// (IAC DO ECHO) repeated as fast as the connection takes it, and not a byte read.

#include <QByteArray>
#include <QTcpSocket>
#include <QTimer>

namespace qx200::testing {

inline void floodWithRequests(QTcpSocket& client)
{
    client.setReadBufferSize(1); // what the other end sends stays in the kernel's buffers
    const char request[] = {char(255), char(253), char(1)};
    const QByteArray requests = QByteArray(request, sizeof request).repeated(8192);
    auto* flood = new QTimer(&client);
    QObject::connect(flood, &QTimer::timeout, &client, [&client, requests] {
        if (client.state() == QAbstractSocket::ConnectedState && client.bytesToWrite() < (1 << 20))
            client.write(requests);
    });
    flood->start(1);
}

} // namespace qx200::testing
