#pragma once

#include "support/ChildProcess.h"

// The programs of a monitored venue, each started for one test (or one benchmark run) on
// 127.0.0.1 and stopped with it: qx200d polling simulated projectors, and a real
// Prometheus scraping it. Simulators come from support/Simulator.h.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <chrono>
#include <csignal>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <utility>
#include <vector>

namespace qx200::testing {

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
inline quint16 freeLocalPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("no free local port");
    return probe.serverPort();
}

struct HttpReply {
    int status = 0; // 0: no answer
    QByteArray body;
    std::chrono::duration<double, std::milli> took{};
};

// Plain HTTP GETs on the running event loop, never through a proxy.
class HttpClient {
public:
    HttpClient() { manager_.setProxy(QNetworkProxy::NoProxy); }

    HttpReply get(const QUrl& url, int timeoutMs = 5000)
    {
        QNetworkRequest request(url);
        request.setTransferTimeout(timeoutMs);
        QElapsedTimer clock;
        clock.start();
        QNetworkReply* reply = manager_.get(request);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        HttpReply result;
        result.took = std::chrono::nanoseconds(clock.nsecsElapsed());
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        reply->deleteLater();
        return result;
    }

    // GETs until the answer is 200 OK or the time is up.
    bool awaitOk(const QUrl& url, int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            if (get(url, 1000).status == 200)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

private:
    QNetworkAccessManager manager_;
};

// A program run for the test, its output forwarded, killed at the end if it does not stop, and
// by the kernel if the test itself dies first (a crashed test leaves no server behind).
class ChildProgram {
public:
    ChildProgram() = default;
    ~ChildProgram() { stop(); }
    ChildProgram(const ChildProgram&) = delete;
    ChildProgram& operator=(const ChildProgram&) = delete;

    void start(const QString& program, const QStringList& arguments,
               const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
    {
        process_.setProgram(program);
        process_.setProcessEnvironment(environment);
        process_.setArguments(arguments);
        process_.setProcessChannelMode(QProcess::ForwardedChannels);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start();
        if (!process_.waitForStarted(10000))
            throw std::runtime_error("cannot start " + program.toStdString() + ": " +
                                     process_.errorString().toStdString());
    }

    void stop() { stopChild(process_, 10000); }

    qint64 pid() const { return process_.processId(); }

private:
    QProcess process_;
};

inline void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

struct PolledProjector {
    QString name;
    QString device;
};

// qx200d on a free local port, polling the given projectors every `interval`.
class Service {
public:
    Service(const std::vector<PolledProjector>& projectors, const QString& interval)
        : port_(freeLocalPort())
    {
        QByteArray yaml = "projectors:\n";
        for (const PolledProjector& p : projectors)
            yaml += "  - name: " + p.name.toUtf8() + "\n    device: " + p.device.toUtf8() +
                    "\n    interval: " + interval.toUtf8() + "\n";
        const QString config = dir_.filePath(QStringLiteral("qx200d.yml"));
        writeFile(config, yaml);
        // Its own control socket and records, so that services of runs side by side never meet
        // and nothing is left in the user's state folder.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_STATE_HOME"), dir_.path());
        environment.remove(QStringLiteral("STATE_DIRECTORY"));
        program_.start(QStringLiteral(QX200D_PATH),
                       {QStringLiteral("--config"), config, QStringLiteral("--listen"), address(),
                        QStringLiteral("--control-socket"),
                        dir_.filePath(QStringLiteral("qx200d.sock"))},
                       environment);
        if (!HttpClient().awaitOk(metricsUrl(), 10000))
            throw std::runtime_error("qx200d does not serve /metrics");
    }

    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    QUrl metricsUrl() const { return QUrl(QStringLiteral("http://%1/metrics").arg(address())); }
    qint64 pid() const { return program_.pid(); }

private:
    QTemporaryDir dir_;
    quint16 port_;
    ChildProgram program_;
};

// One series of a Prometheus query result: its labels and its samples (time, value).
struct Series {
    std::map<QString, QString> labels;
    std::vector<std::pair<double, double>> samples;
};

// The Prometheus server of the Debian package, scraping one target every second with the given
// rule files (and more settings of the scrape job, such as its scheme), its database in a
// temporary folder.
class PrometheusServer {
public:
    PrometheusServer(const QString& target, const QStringList& ruleFiles,
                     const QByteArray& jobSettings = {})
        : port_(freeLocalPort())
    {
        QByteArray config = "global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n";
        if (!ruleFiles.isEmpty()) {
            config += "rule_files:\n";
            for (const QString& file : ruleFiles)
                config += "  - " + file.toUtf8() + "\n";
        }
        config += "scrape_configs:\n  - job_name: qx200\n    scrape_timeout: 900ms\n" +
                  jobSettings + "    static_configs:\n      - targets: [\"" + target.toUtf8() +
                  "\"]\n";
        const QString configPath = dir_.filePath(QStringLiteral("prometheus.yml"));
        writeFile(configPath, config);
        program_.start(QStringLiteral("/usr/bin/prometheus"),
                       {QStringLiteral("--config.file=") + configPath,
                        QStringLiteral("--storage.tsdb.path=") + dir_.filePath("data"),
                        QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_),
                        QStringLiteral("--log.level=warn")});
        if (!http_.awaitOk(url(QStringLiteral("/-/ready")), 30000))
            throw std::runtime_error("Prometheus did not become ready");
    }

    // The result of an instant query (a vector) or of a range selector (a matrix). Throws when
    // Prometheus refuses the query.
    std::vector<Series> query(const QString& expression)
    {
        // Percent-encoded in full: a plain "+" would reach Prometheus as a space.
        QUrl address = url(QStringLiteral("/api/v1/query"));
        address.setQuery(QString::fromLatin1("query=" + QUrl::toPercentEncoding(expression)));
        const HttpReply reply = http_.get(address);
        const QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
        if (reply.status != 200 || answer[QStringLiteral("status")] != QStringLiteral("success"))
            throw std::runtime_error("query " + expression.toStdString() +
                                     " failed: " + reply.body.toStdString());
        std::vector<Series> result;
        for (const QJsonValue& item :
             answer[QStringLiteral("data")][QStringLiteral("result")].toArray()) {
            const QJsonObject entry = item.toObject();
            Series series;
            const QJsonObject metric = entry[QStringLiteral("metric")].toObject();
            for (auto it = metric.begin(); it != metric.end(); ++it)
                series.labels[it.key()] = it.value().toString();
            const QJsonArray values = entry.contains(QStringLiteral("values"))
                                          ? entry[QStringLiteral("values")].toArray()
                                          : QJsonArray{entry[QStringLiteral("value")]};
            for (const QJsonValue& sample : values) {
                const QJsonArray pair = sample.toArray();
                series.samples.emplace_back(pair[0].toDouble(), pair[1].toString().toDouble());
            }
            result.push_back(std::move(series));
        }
        return result;
    }

private:
    QUrl url(const QString& path) const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }

    QTemporaryDir dir_;
    quint16 port_;
    HttpClient http_;
    ChildProgram program_;
};

} // namespace qx200::testing
