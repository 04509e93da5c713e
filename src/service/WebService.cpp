#include "service/WebService.h"

#include "service/Fleet.h"
#include "service/WebConfig.h"

namespace qx200 {

namespace {

constexpr const char* MetricsType = "text/plain; version=0.0.4; charset=utf-8";

HttpResponse notAllowed(const char* allowed)
{
    HttpResponse response = plainResponse(405, QByteArray("use ") + allowed);
    response.headers.emplace_back("Allow", allowed);
    return response;
}

bool isRead(const QByteArray& method)
{
    return method == "GET" || method == "HEAD";
}

} // namespace

WebService::WebService(Fleet& fleet, WebOptions options, Reload reload, QObject* parent)
    : QObject(parent), fleet_(fleet), options_(std::move(options)), reload_(std::move(reload))
{
    reloadState_.lastSuccess = QDateTime::currentDateTimeUtc();
    renderSoon_.setSingleShot(true);
    renderSoon_.setInterval(0);
    connect(&renderSoon_, &QTimer::timeout, this, &WebService::render);
    connect(&fleet_, &Fleet::changed, this, &WebService::changed);
    render();
}

void WebService::changed()
{
    statusPage_.clear();
    renderSoon_.start();
}

void WebService::render()
{
    renderSoon_.stop();
    metricsText_ = QByteArray::fromStdString(fleet_.metricsText());
    metricsGzip_ = gzipPrefix(metricsText_);
}

void WebService::noteReload(bool taken)
{
    reloadState_.lastSuccessful = taken;
    if (taken)
        reloadState_.lastSuccess = QDateTime::currentDateTimeUtc();
}

HttpResponse WebService::respond(const HttpRequest& request)
{
    if (auth_) {
        if (std::optional<HttpResponse> refusal = auth_->check(request.authorization))
            return *refusal;
    }
    const QByteArray& path = request.path;
    if (path == "/-/reload")
        return reload(request);
    if (!isRead(request.method))
        return notAllowed("GET, HEAD");
    if (path == options_.telemetryPath)
        return metrics(request);
    if (path == "/") {
        if (statusPage_.isEmpty())
            statusPage_ = statusPage(fleet_.snapshots(), options_.telemetryPath);
        return {200, "text/html; charset=utf-8", statusPage_};
    }
    if (path == "/-/healthy")
        return plainResponse(200, "qx200d is healthy.");
    if (path == "/-/ready")
        return fleet_.ready() ? plainResponse(200, "qx200d is ready.")
                              : plainResponse(503, "qx200d is not ready: some lines have not "
                                                   "been tried yet.");
    return plainResponse(404, "not found: try / or " + options_.telemetryPath);
}

HttpResponse WebService::metrics(const HttpRequest& request)
{
    if (renderSoon_.isActive())
        render(); // a change not rendered yet
    const QByteArray own =
        QByteArray::fromStdString(serviceMetricsText(reloadState_, readProcessStats()));
    if (acceptsGzip(request.acceptEncoding))
        return {200, MetricsType, gzipMember(metricsGzip_, own), {{"Content-Encoding", "gzip"}}};
    return {200, MetricsType, metricsText_ + own};
}

HttpResponse WebService::reload(const HttpRequest& request)
{
    if (request.method != "POST" && request.method != "PUT")
        return notAllowed("POST, PUT");
    if (!options_.lifecycle)
        return plainResponse(403, "Lifecycle API is not enabled (--web.enable-lifecycle).");
    if (const QString why = reload_(); !why.isEmpty())
        return plainResponse(500, "failed to reload config: " + why.toUtf8());
    return plainResponse(200, "configuration reloaded");
}

} // namespace qx200
