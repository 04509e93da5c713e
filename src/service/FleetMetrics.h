#pragma once

// The pollers' readings and counts in the Prometheus text format. Counts (errors, rounds, reply
// times) live as long as the exporter; readings are taken from the pollers at every scrape, so
// what a poller dropped is simply not there.

#include "service/Poller.h"

#include <prometheus/counter.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

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

    // Publishes the poller's readings and counts its errors, rounds and reply times. The poller
    // must outlive this object.
    void watch(Poller& poller);

    // Everything, in the Prometheus text exposition format.
    std::string exposition() const;

private:
    prometheus::Registry counts_;
    prometheus::Family<prometheus::Counter>& errors_;
    prometheus::Family<prometheus::Counter>& rounds_;
    prometheus::Family<prometheus::Counter>& lateRounds_;
    prometheus::Family<prometheus::Histogram>& replyDuration_;
    std::vector<const Poller*> pollers_;
};

} // namespace qx200
