#pragma once

// One projector's state as every front end shows it: the metrics page, the status page, the
// control socket. Made from the projector's line and poller at the moment it is asked for.

#include "service/FleetConfig.h"
#include "service/Poller.h"

#include <QDateTime>
#include <QStringList>
#include <chrono>
#include <optional>

namespace qx200 {

struct ProjectorSnapshot {
    QString name;
    QString device;
    bool up = false;
    Readings readings;
    std::optional<QDateTime> lastReply;
    QString fault;
    std::optional<PowerState> power; // as the line follows it
    QString operatorPeer;            // the attached console, if any
    std::optional<SocketAddress> console;
    std::optional<std::chrono::milliseconds> lastRoundTime; // once a round has ended
    qint64 unsolicitedBytes = 0;         // sent by the projector outside any exchange
    std::optional<SocketAddress> pjlink; // where network controllers connect, when they can
    QStringList pjlinkControllers;       // those connected now
};

} // namespace qx200
