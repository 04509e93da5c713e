#pragma once

#include "support/EventLoop.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpSocket>

namespace qx200::testing {

// Sends the bytes to a server on 127.0.0.1 and collects the answer until the server closes,
// keeping the event loop going (the server may run in this process).
inline QByteArray httpExchange(quint16 port, const QByteArray& request, int timeoutMs = 10000)
{
    QTcpSocket socket;
    QByteArray answer;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { answer += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, port);
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
        runFor(5);
    return answer + socket.readAll();
}

// The body of a GET of the path; empty when nothing came.
inline QByteArray httpGet(quint16 port, const QByteArray& path)
{
    const QByteArray answer = httpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: x\r\n\r\n");
    const qsizetype end = answer.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : answer.mid(end + 4);
}

} // namespace qx200::testing
