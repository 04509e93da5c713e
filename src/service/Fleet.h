#pragma once

// The service's projectors: for each, its line and its poller; the metrics of all, and what the
// HTTP responder serves from them. Front ends (console sessions, the control socket, network
// controllers) find a projector here and talk to its line.

#include "service/FleetConfig.h"
#include "service/FleetMetrics.h"
#include "service/HttpResponder.h"
#include "service/Line.h"
#include "service/Poller.h"
#include "service/Snapshot.h"
#include "service/pjlink/PjlinkServer.h"

#include <QDateTime>
#include <QObject>
#include <memory>
#include <optional>
#include <vector>

namespace qx200 {

class Projector {
public:
    Projector(const ProjectorConfig& config, LineTiming lineTiming, PollTiming pollTiming);

    const ProjectorConfig& config() const { return line_.config(); }
    Line& line() { return line_; }
    const Line& line() const { return line_; }
    Poller& poller() { return poller_; }
    const Poller& poller() const { return poller_; }
    ProjectorSnapshot snapshot() const;

private:
    friend class Fleet;
    Line line_;
    Poller poller_;
    const PjlinkServer* pjlink_ = nullptr;
};

class Fleet final : public QObject {
    Q_OBJECT

public:
    explicit Fleet(const FleetConfig& config, LineTiming lineTiming = {},
                   PollTiming pollTiming = {});
    ~Fleet() override;

    // Opens every line and starts polling.
    void start();
    // "/" the status page, "/metrics" the metrics, anything else not found.
    HttpResponse respond(const QByteArray& path) const;

    const std::vector<std::unique_ptr<Projector>>& projectors() const { return projectors_; }
    // The projector of that name; nullptr when there is none.
    Projector* find(const QString& name) const;
    std::vector<ProjectorSnapshot> snapshots() const;
    // The network controller listener of the projector of that name: shown and counted.
    void attach(const QString& name, const PjlinkServer& server);

signals:
    // A projector's state changed: a round ended, an operator came or went, the power state or
    // the device changed.
    void changed(const QString& name);

private:
    std::vector<std::unique_ptr<Projector>> projectors_;
    FleetMetrics metrics_;
};

// A short HTML page: each projector, whether it answers, who holds its line, its last readings.
QByteArray statusPage(const std::vector<ProjectorSnapshot>& snapshots);

} // namespace qx200
