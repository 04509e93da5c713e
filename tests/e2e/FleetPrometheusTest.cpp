// qx200d polling three simulator programs over pseudo-terminals, scraped by a real
// Prometheus with the shipped alert rules: what the Prometheus HTTP API answers is what the
// simulators hold, a silent projector is down, and an unplugged one is down until it is back.

#include "sim/ProjectorModel.h"
#include "support/EventLoop.h"
#include "support/FleetProcesses.h"
#include "support/Simulator.h"
#include "support/TlsFiles.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSslSocket>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <crypt.h>
#include <gtest/gtest.h>
#include <set>

namespace qx200::testing {
namespace {

constexpr int Patience = 30000; // generous: the suite shares a small, busy machine

template <class Condition> bool eventually(Condition condition)
{
    const QDeadlineTimer deadline(Patience);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        runFor(200);
    }
    return true;
}

// The value of the one series a query returns; NaN when it returns none.
double valueOf(PrometheusServer& prometheus, const QString& expression)
{
    const std::vector<Series> result = prometheus.query(expression);
    return result.empty() ? std::nan("") : result.front().samples.back().second;
}

// A series' values with repeats dropped: 1 1 0 0 1 -> 1 0 1.
std::vector<double> changes(const Series& series)
{
    std::vector<double> values;
    for (const auto& [time, value] : series.samples)
        if (values.empty() || values.back() != value)
            values.push_back(value);
    return values;
}

using Tenths = std::array<long, sim::TemperatureCount>;

Tenths inTenths(const std::array<double, sim::TemperatureCount>& celsius)
{
    Tenths tenths{};
    std::ranges::transform(celsius, tenths.begin(), [](double c) { return std::lround(c * 10); });
    return tenths;
}

// The three temperatures, in tenths of a degree, that a simulator program started with the test
// seed reports in standby at each second of its first `seconds`.
std::set<Tenths> simulatedTemperatures(int seconds)
{
    sim::ModelConfig config;
    config.seed = 7; // as support/Simulator.h starts it
    sim::ProjectorModel model(config);
    std::set<Tenths> seen;
    for (int s = 0; s <= seconds; ++s) {
        model.advance(std::chrono::seconds(s));
        seen.insert(inTenths(model.temperatures()));
    }
    return seen;
}

QString ofProjector(const char* metric, const QString& projector, const QString& more = {})
{
    return QStringLiteral("%1{projector=\"%2\"%3}").arg(QLatin1String(metric), projector, more);
}

// The projector in standby as the simulator starts it, on the series the alert rules read too.
struct Expected {
    const char* metric;
    const char* labels;
    double value;
};
const Expected StandbyReadings[] = {
    {"qx200_up", "", 1},
    {"qx200_power_status", "", 0},
    {"qx200_lamp_used_seconds", "",
     std::chrono::seconds(std::chrono::hours(sim::ModelConfig{}.lampHours)).count()},
    {"qx200_error_status", ",component=\"power\"", 0},
    {"qx200_error_status", ",component=\"lamp\"", 0},
    {"qx200_error_status", ",component=\"temperature\"", 0},
};

void expectStandbyReadings(PrometheusServer& prometheus, const QString& projector,
                           int secondsRunning)
{
    for (const Expected& row : StandbyReadings)
        EXPECT_EQ(valueOf(prometheus, ofProjector(row.metric, projector, row.labels)), row.value)
            << row.metric << row.labels << " of " << projector.toStdString();

    // The sensors sorted by their label are S1, S2, S3; all three as the simulator held them
    // at one moment.
    std::vector<Series> sensors =
        prometheus.query(ofProjector("qx200_temperature_celsius", projector));
    ASSERT_EQ(sensors.size(), sim::TemperatureCount) << projector.toStdString();
    std::ranges::sort(sensors, {}, [](const Series& s) { return s.labels.at("sensor"); });
    std::array<double, sim::TemperatureCount> celsius{};
    std::ranges::transform(sensors, celsius.begin(),
                           [](const Series& s) { return s.samples.back().second; });
    EXPECT_TRUE(simulatedTemperatures(secondsRunning).contains(inTenths(celsius)))
        << projector.toStdString() << " reads " << celsius[0] << ", " << celsius[1] << ", "
        << celsius[2] << " C, which the simulator never held";
}

TEST(FleetPrometheus, ScrapesWhatTheSimulatorsHold)
{
    QElapsedTimer running;
    running.start();
    Simulator hall;
    Simulator silent({QStringLiteral("--silent")});
    Simulator unplugged;
    const QString hallName = QStringLiteral("hall"), silentName = QStringLiteral("silent"),
                  unpluggedName = QStringLiteral("unplugged");
    // The simulators' model time, rounded up: they started after the clock.
    const auto secondsSoFar = [&running] { return int(running.elapsed() / 1000) + 1; };
    Service service(
        {{hallName, hall.link()}, {silentName, silent.link()}, {unpluggedName, unplugged.link()}},
        QStringLiteral("1s"));
    PrometheusServer prometheus(service.address(),
                                {QStringLiteral(QX200_DEPLOY_DIR "/alerts.yml")});

    ASSERT_TRUE(eventually([&] {
        return valueOf(prometheus, QStringLiteral("count_over_time(up{job=\"qx200\"}[1m])")) >= 2;
    })) << "Prometheus did not scrape qx200d twice";
    ASSERT_TRUE(eventually([&] {
        return valueOf(prometheus, ofProjector("qx200_up", hallName)) == 1 &&
               valueOf(prometheus, ofProjector("qx200_up", unpluggedName)) == 1;
    })) << "the healthy projectors never showed up";
    expectStandbyReadings(prometheus, hallName, secondsSoFar());
    expectStandbyReadings(prometheus, unpluggedName, secondsSoFar());

    EXPECT_EQ(valueOf(prometheus, ofProjector("qx200_up", silentName)), 0);
    EXPECT_TRUE(std::isnan(valueOf(prometheus, ofProjector("qx200_lamp_used_seconds", silentName))))
        << "the silent projector has lamp hours";
    EXPECT_TRUE(eventually([&] {
        return valueOf(prometheus,
                       QStringLiteral("ALERTS{alertname=\"QX200ProjectorDown\","
                                      "alertstate=\"pending\",projector=\"silent\"}")) == 1;
    })) << "the alert rules do not see the silent projector";

    unplugged.stop();
    EXPECT_TRUE(eventually([&] {
        return valueOf(prometheus, ofProjector("qx200_up", unpluggedName)) == 0;
    })) << "the unplugged projector still shows as up";
    EXPECT_TRUE(
        std::isnan(valueOf(prometheus, ofProjector("qx200_lamp_used_seconds", unpluggedName))))
        << "the unplugged projector's lamp hours are still exported";

    unplugged.start({});
    EXPECT_TRUE(eventually([&] {
        return valueOf(prometheus, ofProjector("qx200_up", unpluggedName)) == 1;
    })) << "the projector did not come back";
    expectStandbyReadings(prometheus, unpluggedName, secondsSoFar());

    const std::vector<Series> history =
        prometheus.query(ofProjector("qx200_up", unpluggedName) + "[5m]");
    ASSERT_EQ(history.size(), 1u);
    const std::vector<double> seen = changes(history.front());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(std::vector<double>(seen.end() - 3, seen.end()), (std::vector<double>{1, 0, 1}));
    EXPECT_EQ(valueOf(prometheus, ofProjector("qx200_up", hallName)), 1)
        << "the healthy projector went down beside the others";
}

QByteArray bcrypt(const char* password)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting);
    crypt_data data{};
    return crypt_r(password, setting, &data);
}

// What a client that trusts any certificate gets for a GET with these credentials.
QByteArray httpsExchange(quint16 port, const QByteArray& user, const QByteArray& password)
{
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForEncrypted(Patience))
        return {};
    socket.write("GET /metrics HTTP/1.1\r\nAuthorization: Basic " +
                 (user + ':' + password).toBase64() + "\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(Patience))
        answer += socket.readAll();
    return answer + socket.readAll();
}

// Prometheus scrapes qx200d over TLS with a password, as a venue would set it up; a wrong
// password gets 401 and no page.
TEST(FleetPrometheus, ScrapesOverTlsWithAPassword)
{
    Simulator hall;
    QTemporaryDir dir;
    const TlsFiles tls = makeTlsFiles(QDir(dir.path()));
    const QString webConfig = dir.filePath(QStringLiteral("web.yml"));
    writeFile(webConfig, "tls_server_config:\n  cert_file: tls.crt\n  key_file: tls.key\n"
                         "basic_auth_users:\n  prometheus: " +
                             bcrypt("s3cret") + "\n");
    const QString password = dir.filePath(QStringLiteral("password"));
    writeFile(password, "s3cret");
    const QString config = dir.filePath(QStringLiteral("qx200d.yml"));
    writeFile(config, "projectors:\n  - name: hall\n    device: " + hall.link().toUtf8() +
                          "\n    interval: 1s\n");
    const quint16 port = freeLocalPort();
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_STATE_HOME"), dir.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
    ChildProgram service;
    service.start(QStringLiteral(QX200D_PATH),
                  {QStringLiteral("--config"), config, QStringLiteral("--web.listen-address"),
                   address, QStringLiteral("--web.config.file"), webConfig},
                  environment);
    PrometheusServer prometheus(
        address, {},
        "    scheme: https\n    tls_config:\n      ca_file: " + tls.certificate.toUtf8() +
            "\n    basic_auth:\n      username: prometheus\n"
            "      password_file: " +
            password.toUtf8() + "\n");
    EXPECT_TRUE(eventually([&] {
        return valueOf(prometheus, ofProjector("qx200_up", "hall")) == 1;
    })) << "Prometheus did not scrape qx200d over TLS";

    const QByteArray refused = httpsExchange(port, "prometheus", "guess");
    EXPECT_TRUE(refused.startsWith("HTTP/1.1 401 ")) << refused.toStdString();
    EXPECT_FALSE(refused.contains("qx200_up")) << refused.toStdString();
    const QByteArray taken = httpsExchange(port, "prometheus", "s3cret");
    EXPECT_TRUE(taken.startsWith("HTTP/1.1 200 ")) << taken.left(200).toStdString();
    EXPECT_TRUE(taken.contains("\nqx200_up{")) << taken.left(200).toStdString();
}

} // namespace
} // namespace qx200::testing
