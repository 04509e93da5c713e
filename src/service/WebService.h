#pragma once

// What qx200d serves over HTTP, as Prometheus exporters do: the metrics at the telemetry path,
// the status page at /, /-/healthy, /-/ready and, when lifecycle requests are enabled,
// POST /-/reload.
//
// The projectors' part of the metrics page and the status page change only when a projector
// does (a round ends, an operator comes or goes, a reload): they are rendered then, once, with
// the gzip form of the metrics, and scrapes serve the bytes kept. The service's own figures
// (process, reload) are few and added for each scrape.

#include "service/Gzip.h"
#include "service/HttpResponder.h"
#include "service/ServiceMetrics.h"

#include <QObject>
#include <QTimer>
#include <functional>

namespace qx200 {

class BasicAuth;
class Fleet;

struct WebOptions {
    QByteArray telemetryPath = "/metrics";
    bool lifecycle = false; // POST /-/reload taken
};

class WebService final : public QObject {
    Q_OBJECT

public:
    // Re-reads the configuration; empty when it was taken, otherwise why not.
    using Reload = std::function<QString()>;

    WebService(Fleet& fleet, WebOptions options, Reload reload, QObject* parent = nullptr);

    // Requests must carry credentials the checker allows; it must outlive the service.
    void requireAuth(BasicAuth* auth) { auth_ = auth; }
    HttpResponse respond(const HttpRequest& request);
    // How the last reload went: the metrics tell it.
    void noteReload(bool taken);

private:
    HttpResponse metrics(const HttpRequest& request);
    HttpResponse reload(const HttpRequest& request);
    void changed();
    void render();

    Fleet& fleet_;
    const WebOptions options_;
    const Reload reload_;
    BasicAuth* auth_ = nullptr;
    ReloadState reloadState_;
    QTimer renderSoon_; // one rendering for the changes of one pass of the event loop
    QByteArray metricsText_;
    GzipPrefix metricsGzip_;
    QByteArray statusPage_; // empty: to be made at the next request
};

} // namespace qx200
