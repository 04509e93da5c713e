#include "service/FleetMetrics.h"
#include "service/ServiceMetrics.h"

#include "protocol/TraceRendering.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <gtest/gtest.h>

namespace qx200 {
namespace {

// The readings of a round in which the projector gave these replies, in the order of the queries.
Readings readingsOf(const QByteArrayList& replies)
{
    Readings readings;
    for (qsizetype i = 0; i < replies.size(); ++i)
        if (const auto reading = readStatus(PolledQueries[std::size_t(i)], renderTrace(replies[i])))
            readings.store(reading->value);
    return readings;
}

// The metrics of one projector with the readings of one round, its counts told by its poller.
struct Watched {
    Watched()
    {
        snapshot.name = "hall-a";
        snapshot.device = "/dev/ttyUSB0";
        metrics.watch(poller);
    }

    void round(const QByteArrayList& replies)
    {
        snapshot.up = !replies.isEmpty();
        snapshot.readings = readingsOf(replies);
        if (snapshot.up)
            snapshot.lastReply = QDateTime::currentDateTimeUtc();
        for (qsizetype i = 0; i < replies.size(); ++i)
            emit poller.replyTime(0.02);
        if (replies.isEmpty())
            emit poller.error(PollError::Timeout);
        emit poller.roundEnded();
    }

    QString text() const { return QString::fromStdString(metrics.exposition({snapshot})); }

    Line line{ProjectorConfig{"hall-a", "/dev/ttyUSB0", 19200, std::chrono::seconds(10), {}, {}}};
    Poller poller{line};
    ProjectorSnapshot snapshot;
    FleetMetrics metrics;
};

const QByteArrayList WarmingUp{"40\r", "3\r",  "01234\r", "10\r", "025.0  38.0 061.5\r",
                               "03\r", "01\r", "853\r"};

constexpr const char* Base = R"(device="/dev/ttyUSB0",projector="hall-a")";

QString line(const char* name, const char* labels, const char* value)
{
    const QString extra = QString::fromLatin1(labels);
    QString all = QString::fromLatin1(Base);
    if (!extra.isEmpty()) {
        // Labels are written sorted by name.
        QStringList pairs = all.split(',') + extra.split(',');
        pairs.sort();
        all = pairs.join(',');
    }
    return QStringLiteral("%1{%2} %3\n").arg(QLatin1String(name), all, QLatin1String(value));
}

// Prometheus' own linter has nothing to say about a page with every metric on it.
TEST(FleetMetrics, FullPagePassesPromtool)
{
    Watched w;
    w.round(WarmingUp);
    w.snapshot.lastRoundTime = std::chrono::milliseconds(800);
    w.snapshot.operatorPeer = QStringLiteral("127.0.0.1:4000");
    const QByteArray page =
        w.text().toUtf8() + QByteArray::fromStdString(serviceMetricsText(
                                {false, QDateTime::currentDateTimeUtc()}, readProcessStats()));
    for (const char* name : {"qx200_last_reply_timestamp_seconds", "qx200_build_info",
                             "qx200_config_last_reload_success_timestamp_seconds",
                             "process_cpu_seconds_total", "qx200_operator_attached"})
        ASSERT_TRUE(page.contains(QByteArray("\n# TYPE ") + name)) << name;
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {"check", "metrics"});
    promtool.write(page);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.readAll(), "");
    EXPECT_EQ(promtool.exitCode(), 0);
}

TEST(FleetMetrics, PublishEveryReading)
{
    Watched w;
    w.round(WarmingUp);
    const QString text = w.text();
    for (const QString& expected : {
             line("qx200_up", "", "1"),
             line("qx200_power_status", "", "3"),
             line("qx200_error_status", R"(component="power")", "0"),
             line("qx200_error_status", R"(component="temperature")", "0"),
             line("qx200_error_status", R"(component="lamp")", "0"),
             line("qx200_input_info", R"(input="video")", "1"),
             line("qx200_lamp_used_seconds", "", "4442400"),
             line("qx200_image_reversed", R"(axis="top_bottom")", "1"),
             line("qx200_image_reversed", R"(axis="left_right")", "0"),
             line("qx200_temperature_celsius", R"(sensor="s1")", "25"),
             line("qx200_temperature_celsius", R"(sensor="s2")", "38"),
             line("qx200_temperature_celsius", R"(sensor="s3")", "61.5"),
             line("qx200_lamp_mode_info", R"(mode="two_lamps")", "1"),
             line("qx200_lamp_on", R"(lamp="1")", "1"),
             line("qx200_lamp_on", R"(lamp="2")", "1"),
             line("qx200_signal_info", R"(signal="present")", "1"),
             line("qx200_av_mute", R"(type="video")", "1"),
             line("qx200_av_mute", R"(type="audio")", "0"),
             line("qx200_pressure_pascals", "", "101300"),
             line("qx200_poll_rounds_total", "", "1"),
             line("qx200_poll_errors_total", R"(reason="timeout")", "0"),
             line("qx200_reply_duration_seconds_count", "", "8"),
         })
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
    EXPECT_TRUE(text.contains("# TYPE qx200_reply_duration_seconds histogram"));
    EXPECT_TRUE(text.contains("# TYPE qx200_poll_errors_total counter"));
    EXPECT_TRUE(text.contains("qx200_last_reply_timestamp_seconds{"));
    EXPECT_TRUE(text.contains("# TYPE qx200_unsolicited_bytes_total counter"));
}

struct PowerCase {
    const char* name;
    QByteArray reply;
    const char* status; // nothing: no power status line
    const char* failingComponent;
};

class PowerStatuses : public ::testing::TestWithParam<PowerCase> {};

TEST_P(PowerStatuses, UseTheNetworkExportersNumbers)
{
    const PowerCase& c = GetParam();
    Watched w;
    QByteArrayList replies = WarmingUp;
    replies[0] = c.reply + '\r';
    w.round(replies);
    const QString text = w.text();
    if (c.status)
        EXPECT_TRUE(text.contains(line("qx200_power_status", "", c.status)));
    else
        EXPECT_FALSE(text.contains("qx200_power_status{"));
    if (c.failingComponent)
        EXPECT_TRUE(text.contains(
            line("qx200_error_status",
                 QStringLiteral("component=\"%1\"").arg(c.failingComponent).toLatin1().constData(),
                 "1")));
    else
        EXPECT_FALSE(text.contains(QRegularExpression("qx200_error_status\\{[^}]*\\} 1")));
}

INSTANTIATE_TEST_SUITE_P(
    FleetMetrics, PowerStatuses,
    ::testing::Values(PowerCase{"Standby", "80", "0", nullptr}, PowerCase{"On", "00", "1", nullptr},
                      PowerCase{"CoolingDown", "20", "2", nullptr},
                      PowerCase{"CountDown", "40", "3", nullptr},
                      PowerCase{"PowerFail", "10", nullptr, "power"},
                      PowerCase{"TemperatureWarning", "08", "1", "temperature"},
                      PowerCase{"LampFail", "81", "0", "lamp"}),
    [](const ::testing::TestParamInfo<PowerCase>& testCase) { return testCase.param.name; });

TEST(FleetMetrics, ASilentProjectorIsDownWithoutReadings)
{
    Watched w;
    w.round(WarmingUp);
    w.round({});
    const QString text = w.text();
    EXPECT_TRUE(text.contains(line("qx200_up", "", "0")));
    EXPECT_TRUE(text.contains(line("qx200_poll_errors_total", R"(reason="timeout")", "1")));
    for (const char* reading :
         {"qx200_power_status", "qx200_lamp_used_seconds", "qx200_temperature",
          "qx200_pressure_pascals", "qx200_lamp_on", "qx200_av_mute"})
        EXPECT_FALSE(text.contains(reading)) << reading;
    EXPECT_TRUE(text.contains("qx200_last_reply_timestamp_seconds{")); // it did answer once
}

TEST(FleetMetrics, NoSignalHidesTheMutes)
{
    Watched w;
    QByteArrayList replies = WarmingUp;
    replies[6] = "80\r";
    w.round(replies);
    const QString text = w.text();
    EXPECT_TRUE(text.contains(line("qx200_signal_info", R"(signal="no_signal")", "1")));
    EXPECT_FALSE(text.contains("qx200_av_mute{"));
}

TEST(FleetMetrics, ShowAnAttachedOperator)
{
    Watched w;
    w.round(WarmingUp);
    EXPECT_TRUE(w.text().contains(line("qx200_operator_attached", "", "0")));
    w.snapshot.operatorPeer = "127.0.0.1:40312 (console)";
    EXPECT_TRUE(w.text().contains(line("qx200_operator_attached", "", "1")));
}

} // namespace
} // namespace qx200
