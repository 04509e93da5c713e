#pragma once

// The network controller listeners of a fleet: one per projector that configures one, each with
// the password from its file.

#include "service/FleetConfig.h"

#include <QByteArray>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace qx200 {

class Fleet;
class Projector;
class PjlinkServer;
class PjlinkSearch;

// The password in the file: its first line, at most 32 printable ASCII characters. Nothing, and
// the reason in *error, when the file cannot be read, is readable or writable by others than its
// owner, or holds no such password.
std::optional<QByteArray> readPjlinkPassword(const QString& path, QString* error);

// What --check-config says about the listeners: the errors that stop the service from starting
// (a password file it refuses) and the warnings (a listener without authentication).
struct PjlinkCheck {
    QStringList errors;
    QStringList warnings;
};
PjlinkCheck checkPjlink(const FleetConfig& config);

class PjlinkServers {
public:
    explicit PjlinkServers(Fleet& fleet);
    ~PjlinkServers();
    PjlinkServers(const PjlinkServers&) = delete;
    PjlinkServers& operator=(const PjlinkServers&) = delete;

    // Listens for every projector that has a listener configured, and for searches on UDP at
    // each of their addresses; then follows the fleet's reloads. Empty on success, otherwise why
    // the service cannot start; a search port that cannot be bound is logged, not fatal, and so
    // is a listener a reload cannot open.
    QString start();

    // The listener of the projector of that name; nullptr when it has none.
    const PjlinkServer* find(const QString& name) const;

private:
    QString serve(Projector& projector);
    void searchAll();

    Fleet& fleet_;
    std::vector<std::pair<QString, std::unique_ptr<PjlinkServer>>> servers_;
    std::vector<std::unique_ptr<PjlinkSearch>> searches_;
    std::vector<QMetaObject::Connection> reloads_;
};

} // namespace qx200
