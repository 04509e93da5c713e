#pragma once

// The exporter's projectors: a poller for each, the metrics of all, and what the HTTP
// responder serves from them.

#include "serial/SerialPort.h"
#include "service/FleetConfig.h"
#include "service/FleetMetrics.h"
#include "service/HttpResponder.h"
#include "service/Poller.h"

#include <memory>
#include <vector>

namespace qx200 {

// The serial service on a device, as the console uses it, opened as COM1.
std::unique_ptr<SerialPort> serialServiceFor(const QString& device);

class Fleet {
public:
    explicit Fleet(const FleetConfig& config, PollTiming timing = {});

    void start();
    // "/" the status page, "/metrics" the metrics, anything else not found.
    HttpResponse respond(const QByteArray& path) const;

    const std::vector<std::unique_ptr<Poller>>& pollers() const { return pollers_; }

private:
    std::vector<std::unique_ptr<Poller>> pollers_;
    FleetMetrics metrics_;
};

// A short HTML page: each projector, whether it answers, and its last readings.
QByteArray statusPage(const std::vector<std::unique_ptr<Poller>>& pollers);

} // namespace qx200
