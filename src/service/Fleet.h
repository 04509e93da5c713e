#pragma once

// The service's projectors: for each, its line and its poller; the metrics of all, and what the
// HTTP responder serves from them. Front ends (console sessions, the control socket, network
// controllers) find a projector here and talk to its line.

#include "service/FleetConfig.h"
#include "service/FleetMetrics.h"
#include "service/Line.h"
#include "service/Poller.h"
#include "service/Snapshot.h"
#include "service/pjlink/PjlinkServer.h"

#include <QDateTime>
#include <QObject>
#include <QStringList>
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

// What a reload did, by projector name.
struct ReloadSummary {
    QStringList added, removed, reopened;
    int kept = 0;
};

class Fleet final : public QObject {
    Q_OBJECT

public:
    explicit Fleet(const FleetConfig& config, LineTiming lineTiming = {},
                   PollTiming pollTiming = {});
    ~Fleet() override;

    // Opens every line and starts polling.
    void start();
    // Takes a new configuration: projectors no longer listed go, new ones come, changed ones are
    // made anew (their lines reopened); unchanged ones keep their lines, readings, counts and
    // connections.
    ReloadSummary reload(const FleetConfig& config);
    // Every projector's line has been tried once: a round has ended on each.
    bool ready() const;
    // The projectors' metrics in the text exposition format.
    std::string metricsText() const { return metrics_.exposition(snapshots()); }

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
    // A projector came with a reload (or was made anew), and one is about to go.
    void added(Projector& projector);
    void removing(Projector& projector);

private:
    Projector& add(const ProjectorConfig& config);
    void remove(std::size_t index);

    LineTiming lineTiming_;
    PollTiming pollTiming_;
    bool started_ = false;
    std::vector<std::unique_ptr<Projector>> projectors_;
    FleetMetrics metrics_;
};

// A short HTML page: each projector, whether it answers, who holds its line, its last readings.
// The page links to the metrics at metricsPath.
QByteArray statusPage(const std::vector<ProjectorSnapshot>& snapshots,
                      const QByteArray& metricsPath = "/metrics");

} // namespace qx200
