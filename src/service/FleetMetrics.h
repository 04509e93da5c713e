#pragma once

// The projectors' readings and counts in the Prometheus text format. Counts (errors, rounds,
// reply times) live as long as the service; readings come from the snapshots of each scrape, so
// what a poller dropped is simply not there.

#include "service/Poller.h"
#include "service/Snapshot.h"
#include "service/pjlink/PjlinkServer.h"

#include <prometheus/counter.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <map>
#include <string>
#include <vector>

namespace qx200 {

// Bucket bounds of qx200_reply_duration_seconds.
inline const std::vector<double> ReplyDurationBuckets{0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,  1.0,   2.5};

class FleetMetrics {
public:
    FleetMetrics();
    FleetMetrics(const FleetMetrics&) = delete;
    FleetMetrics& operator=(const FleetMetrics&) = delete;

    // Counts the poller's errors, rounds and reply times.
    void watch(const Poller& poller);
    // Counts the projector's network controller requests and refused logins.
    void watch(const QString& projector, const PjlinkServer& server);
    // Drops the poller's counts; call it just before the poller goes.
    void forget(const Poller& poller);

    // The snapshots' readings and the counts, in the Prometheus text exposition format.
    std::string exposition(const std::vector<ProjectorSnapshot>& snapshots) const;

private:
    struct Watched {
        std::vector<prometheus::Counter*> errors;
        prometheus::Counter* rounds = nullptr;
        prometheus::Counter* late = nullptr;
        prometheus::Histogram* replies = nullptr;
    };

    prometheus::Registry counts_;
    std::map<const Poller*, Watched> watched_;
    prometheus::Family<prometheus::Counter>& errors_;
    prometheus::Family<prometheus::Counter>& rounds_;
    prometheus::Family<prometheus::Counter>& lateRounds_;
    prometheus::Family<prometheus::Histogram>& replyDuration_;
    prometheus::Family<prometheus::Counter>& pjlinkRequests_;
    prometheus::Family<prometheus::Counter>& pjlinkRefused_;
};

} // namespace qx200
