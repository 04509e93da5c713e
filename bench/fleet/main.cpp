// The fleet benchmark: qx200d polling 50 simulated projectors every 5 s, 5 of them silent,
// while its /metrics page is read twice a second; then the healthy ones alone, for the round
// time without the silent ones. Three runs, each with fresh programs; the median of each figure
// against its mark. Usage: qx200-bench-fleet [result.json]
// QX200_BENCH_FLEET_SECONDS sets the measuring time of a run (default 60).

#include "Report.h"
#include "Stats.h"
#include "support/EventLoop.h"
#include "support/FleetProcesses.h"
#include "support/Simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <chrono>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <unistd.h>
#include <vector>

namespace qx200::bench {
namespace {

using testing::HttpClient;
using testing::PolledProjector;
using testing::Service;
using testing::Simulator;

constexpr int Runs = 3;
constexpr int Projectors = 50;
constexpr int SilentProjectors = 5;
constexpr auto Interval = std::chrono::seconds(5);
constexpr int ScrapeEveryMs = 500;
// Long enough for every poller to have ended a round, the silent ones' included.
constexpr auto Settle = 2 * Interval;

constexpr Mark Marks[] = {
    {"metrics_p50_ms", "ms", -None, None}, {"metrics_p99_ms", "ms", -None, 1},
    {"metrics_cpu_ms", "ms", -None, None}, {"rss_mb", "MiB", -None, 40},
    {"cpu_percent", "%", -None, 3},        {"late_rounds", "", 0, 0},
    {"round_time_ms", "ms", -None, None},  {"round_time_alone_ms", "ms", -None, None},
    {"round_time_ratio", "", -None, 1.1},
};

// Each series of one metric family in a text exposition, by its projector label.
std::map<QString, double> byProjector(const QByteArray& exposition, const QByteArray& name)
{
    std::map<QString, double> values;
    const QByteArray label = "projector=\"";
    for (const QByteArray& line : exposition.split('\n')) {
        if (!line.startsWith(name + '{'))
            continue;
        const qsizetype from = line.indexOf(label) + label.size();
        const qsizetype to = line.indexOf('"', from);
        if (from < label.size() || to < 0)
            continue;
        values[QString::fromUtf8(line.mid(from, to - from))] =
            line.mid(line.lastIndexOf(' ') + 1).toDouble();
    }
    return values;
}

bool healthy(const QString& projector)
{
    return !projector.startsWith(QStringLiteral("silent"));
}

// The sum over the healthy projectors.
double healthySum(const std::map<QString, double>& values)
{
    double sum = 0;
    for (const auto& [projector, value] : values)
        sum += healthy(projector) ? value : 0;
    return sum;
}

// The mean over the healthy projectors; NaN when there is none.
double healthyMean(const std::map<QString, double>& values)
{
    const auto count =
        std::ranges::count_if(values, [](const auto& v) { return healthy(v.first); });
    return count > 0 ? healthySum(values) / double(count) : std::nan("");
}

// qx200d's counts of the healthy projectors' rounds.
struct Rounds {
    double done = 0;
    double late = 0;

    static Rounds read(const QByteArray& exposition)
    {
        return {healthySum(byProjector(exposition, "qx200_poll_rounds_total")),
                healthySum(byProjector(exposition, "qx200_poll_rounds_late_total"))};
    }
    Rounds operator-(const Rounds& earlier) const
    {
        return {done - earlier.done, late - earlier.late};
    }
};

// Processor seconds and peak resident memory of a process, from /proc.
struct ProcessUse {
    double cpuSeconds = 0;
    double peakRssMb = 0;

    static ProcessUse of(qint64 pid)
    {
        ProcessUse use;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (stat.open(QIODevice::ReadOnly)) {
            // After the program name in parentheses: state is field 3, utime 14, stime 15.
            const QByteArray text = stat.readAll();
            const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
            if (fields.size() > 12)
                use.cpuSeconds = (fields[11].toDouble() + fields[12].toDouble()) /
                                 double(::sysconf(_SC_CLK_TCK));
        }
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& line : status.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    use.peakRssMb = line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
        return use;
    }
};

struct Window {
    std::vector<double> metricsMs;
    std::vector<double> roundMs; // at each read, the healthy projectors' last rounds' mean
    Rounds rounds;
    double cpuPercent = 0;
    double peakRssMb = 0;
    double cpuPressurePercent = 0; // other tasks waiting for a processor meanwhile
};

// Reads /metrics every ScrapeEveryMs for `seconds`, on the running event loop, and what the
// service used meanwhile.
Window measure(const Service& service, int seconds)
{
    HttpClient http;
    Window window;
    const Rounds roundsBefore = Rounds::read(http.get(service.metricsUrl()).body);
    const ProcessUse before = ProcessUse::of(service.pid());
    const CpuPressure pressureBefore = cpuPressure();
    QElapsedTimer clock;
    clock.start();
    QByteArray last;
    while (clock.elapsed() < seconds * 1000) {
        const testing::HttpReply reply = http.get(service.metricsUrl());
        if (reply.status != 200)
            throw std::runtime_error("/metrics failed during the run");
        window.metricsMs.push_back(reply.took.count());
        window.roundMs.push_back(
            1000 * healthyMean(byProjector(reply.body, "qx200_round_duration_seconds")));
        last = reply.body;
        testing::runFor(ScrapeEveryMs);
    }
    const ProcessUse after = ProcessUse::of(service.pid());
    window.cpuPressurePercent = 100.0 * double(cpuPressure().totalUs - pressureBefore.totalUs) /
                                double(clock.elapsed() * 1000);
    window.rounds = Rounds::read(last) - roundsBefore;
    window.cpuPercent = 100 * (after.cpuSeconds - before.cpuSeconds) / (clock.elapsed() / 1000.0);
    window.peakRssMb = after.peakRssMb;
    return window;
}

// The service's own processor time for one /metrics page, which does not depend on how crowded
// the machine is: reads back to back, less what polling took meanwhile at its measured share.
double metricsCpuMs(const Service& service, double pollingPercent)
{
    constexpr int Reads = 50;
    HttpClient http;
    const ProcessUse before = ProcessUse::of(service.pid());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < Reads; ++i)
        http.get(service.metricsUrl());
    const double polling = pollingPercent / 100 * (clock.elapsed() / 1000.0);
    const double spent = ProcessUse::of(service.pid()).cpuSeconds - before.cpuSeconds;
    return 1000 * (spent - polling) / Reads;
}

std::vector<PolledProjector> polled(const std::vector<std::unique_ptr<Simulator>>& simulators,
                                    const QStringList& names)
{
    std::vector<PolledProjector> projectors;
    for (std::size_t i = 0; i < simulators.size(); ++i)
        projectors.push_back({names[qsizetype(i)], simulators[i]->link()});
    return projectors;
}

QString intervalText()
{
    return QStringLiteral("%1s").arg(Interval.count());
}

QJsonObject measureRun(int seconds)
{
    // The healthy projectors first, the silent ones after them.
    std::vector<std::unique_ptr<Simulator>> simulators;
    QStringList names;
    for (int i = 0; i < Projectors; ++i) {
        const bool silent = i >= Projectors - SilentProjectors;
        QStringList options{QStringLiteral("--baud"), QStringLiteral("19200")};
        if (silent)
            options << QStringLiteral("--silent");
        simulators.push_back(std::make_unique<Simulator>(options));
        names << QStringLiteral("%1-%2")
                     .arg(silent ? "silent" : "hall")
                     .arg(i + 1, 2, 10, QLatin1Char('0'));
    }

    Window withSilent;
    double pageCpuMs = 0;
    {
        Service service(polled(simulators, names), intervalText());
        testing::runFor(int(std::chrono::milliseconds(Settle).count()));
        withSilent = measure(service, seconds);
        pageCpuMs = metricsCpuMs(service, withSilent.cpuPercent);
    }
    simulators.resize(Projectors - SilentProjectors);
    Window alone;
    {
        Service service(polled(simulators, names), intervalText());
        testing::runFor(int(std::chrono::milliseconds(Settle).count()));
        alone = measure(service, seconds / 2);
    }

    const double roundMs = median(withSilent.roundMs);
    const double aloneMs = median(alone.roundMs);
    return {
        {"metrics_p50_ms", median(withSilent.metricsMs)},
        {"metrics_p99_ms", percentile(withSilent.metricsMs, 99)},
        {"metrics_cpu_ms", pageCpuMs},
        {"rss_mb", withSilent.peakRssMb},
        {"cpu_percent", withSilent.cpuPercent},
        {"late_rounds", withSilent.rounds.late},
        {"round_time_ms", roundMs},
        {"round_time_alone_ms", aloneMs},
        {"round_time_ratio", roundMs / aloneMs},
        {"detail", QJsonObject{{"metrics_reads", int(withSilent.metricsMs.size())},
                               {"healthy_rounds", withSilent.rounds.done},
                               {"late_rounds_alone", alone.rounds.late},
                               {"cpu_pressure_during", withSilent.cpuPressurePercent},
                               {"seconds", seconds}}},
    };
}

int run(const QString& resultPath)
{
    const int seconds = qEnvironmentVariableIsSet("QX200_BENCH_FLEET_SECONDS")
                            ? qEnvironmentVariableIntValue("QX200_BENCH_FLEET_SECONDS")
                            : 60;
    const QJsonObject host = machine();
    std::printf("qx200-bench-fleet on %s, %d cores: %d projectors (%d silent) every %s, "
                "%d s per run\n",
                qPrintable(host["cpu"].toString()), host["cores"].toInt(), Projectors,
                SilentProjectors, qPrintable(intervalText()), seconds);
    QJsonArray runs;
    for (int i = 1; i <= Runs; ++i) {
        awaitQuietMachine();
        std::printf("run %d of %d\n", i, Runs);
        std::fflush(stdout);
        const QJsonObject figures = measureRun(seconds);
        std::printf("run %d done (cpu pressure %.1f%%)\n", i,
                    figures["detail"].toObject()["cpu_pressure_during"].toDouble());
        runs.append(figures);
    }
    QJsonObject result;
    const int missed = reportMedians(Marks, runs, result);
    result["machine"] = host;
    result["runs"] = runs;
    return writeResult(result, resultPath, missed);
}

} // namespace
} // namespace qx200::bench

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    try {
        return qx200::bench::run(argc > 1 ? QString::fromLocal8Bit(argv[1])
                                          : QStringLiteral("bench-fleet.json"));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "qx200-bench-fleet: %s\n", failure.what());
        return 1;
    }
}
