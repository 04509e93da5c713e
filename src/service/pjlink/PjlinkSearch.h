#pragma once

// Search on UDP: a controller sends "%2SRCH" to the port of an address where projectors listen,
// and each projector listening there answers "%2ACKN=" with its hardware address, to the
// address and port the search came from.

#include "service/FleetConfig.h"

#include <QByteArray>
#include <QObject>
#include <QUdpSocket>
#include <vector>

namespace qx200 {

// The port controllers search on.
inline constexpr quint16 PjlinkSearchPort = 4352;

class PjlinkSearch final : public QObject {
    Q_OBJECT

public:
    // The hardware addresses of the projectors listening on one address.
    explicit PjlinkSearch(std::vector<QByteArray> hardwareAddresses, QObject* parent = nullptr);

    // Empty when bound, otherwise why not.
    QString bind(const QHostAddress& address, quint16 port = PjlinkSearchPort);
    quint16 port() const { return socket_.localPort(); }

private:
    void readable();

    std::vector<QByteArray> hardwareAddresses_;
    QUdpSocket socket_;
};

} // namespace qx200
