#include "service/pjlink/PjlinkSearch.h"

#include "service/pjlink/PjlinkProtocol.h"

#include <QNetworkDatagram>

namespace qx200 {

namespace {

// A search is a few bytes; anything longer is no search.
constexpr qint64 MaxDatagramBytes = 64;

} // namespace

PjlinkSearch::PjlinkSearch(std::vector<QByteArray> hardwareAddresses, QObject* parent)
    : QObject(parent), hardwareAddresses_(std::move(hardwareAddresses))
{
    connect(&socket_, &QUdpSocket::readyRead, this, &PjlinkSearch::readable);
}

QString PjlinkSearch::bind(const QHostAddress& address, quint16 port)
{
    return socket_.bind(address, port) ? QString() : socket_.errorString();
}

void PjlinkSearch::readable()
{
    while (socket_.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = socket_.receiveDatagram(MaxDatagramBytes);
        if (!datagram.isValid())
            continue;
        for (const QByteArray& hardwareAddress : hardwareAddresses_)
            if (const auto answer = pjlink::searchAnswer(datagram.data(), hardwareAddress))
                socket_.writeDatagram(*answer, datagram.senderAddress(),
                                      quint16(datagram.senderPort()));
    }
}

} // namespace qx200
