#include "service/ServiceMetrics.h"

#include <QDir>
#include <QFile>
#include <QList>
#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifndef QX200_REVISION
#define QX200_REVISION "unknown"
#endif

namespace qx200 {

namespace {

using prometheus::MetricType;

prometheus::MetricFamily family(const char* name, const char* help, MetricType type, double value,
                                std::vector<prometheus::ClientMetric::Label> labels = {})
{
    prometheus::ClientMetric metric;
    metric.label = std::move(labels);
    if (type == MetricType::Counter)
        metric.counter.value = value;
    else
        metric.gauge.value = value;
    return {name, help, type, {metric}};
}

QByteArray readAll(const char* path)
{
    QFile file(QString::fromLatin1(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The system's boot time, Unix seconds, from /proc/stat's "btime" line.
double bootTime()
{
    for (const QByteArray& line : readAll("/proc/stat").split('\n')) {
        if (line.startsWith("btime "))
            return line.mid(6).trimmed().toDouble();
    }
    return 0;
}

} // namespace

std::optional<ProcessStats> readProcessStats()
{
    // The command name (field 2) may hold spaces and parentheses: the fields after it follow
    // the last ')'.
    const QByteArray stat = readAll("/proc/self/stat");
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' '); // fields[0] is field 3
    constexpr int UserTime = 14 - 3, SystemTime = 15 - 3, StartTime = 22 - 3, VirtualSize = 23 - 3,
                  ResidentPages = 24 - 3;
    if (fields.size() <= ResidentPages)
        return std::nullopt;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    ProcessStats stats;
    stats.cpuSeconds = (fields[UserTime].toDouble() + fields[SystemTime].toDouble()) / ticks;
    stats.startTimeSeconds = bootTime() + fields[StartTime].toDouble() / ticks;
    stats.virtualBytes = fields[VirtualSize].toDouble();
    stats.residentBytes = fields[ResidentPages].toDouble() * double(::sysconf(_SC_PAGESIZE));
    stats.openDescriptors =
        double(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0)
        stats.maxDescriptors = double(limit.rlim_cur);
    return stats;
}

std::string serviceMetricsText(const ReloadState& reload,
                               const std::optional<ProcessStats>& process)
{
    std::vector<prometheus::MetricFamily> families{
        family("qx200_build_info", "The version and revision qx200d was built from",
               MetricType::Gauge, 1, {{"revision", QX200_REVISION}, {"version", QX200_VERSION}}),
        family("qx200_config_last_reload_successful",
               "1 when the last reload of the configuration was taken, 0 when it was refused",
               MetricType::Gauge, reload.lastSuccessful ? 1 : 0)};
    if (reload.lastSuccess)
        families.push_back(family("qx200_config_last_reload_success_timestamp_seconds",
                                  "Unix time of the last configuration taken", MetricType::Gauge,
                                  double(reload.lastSuccess->toMSecsSinceEpoch()) / 1000.0));
    if (process) {
        const ProcessStats& p = *process;
        families.push_back(family("process_cpu_seconds_total",
                                  "Total user and system CPU time spent in seconds.",
                                  MetricType::Counter, p.cpuSeconds));
        families.push_back(family("process_open_fds", "Number of open file descriptors.",
                                  MetricType::Gauge, p.openDescriptors));
        families.push_back(family("process_max_fds", "Maximum number of open file descriptors.",
                                  MetricType::Gauge, p.maxDescriptors));
        families.push_back(family("process_virtual_memory_bytes", "Virtual memory size in bytes.",
                                  MetricType::Gauge, p.virtualBytes));
        families.push_back(family("process_resident_memory_bytes", "Resident memory size in bytes.",
                                  MetricType::Gauge, p.residentBytes));
        families.push_back(family("process_start_time_seconds",
                                  "Start time of the process since unix epoch in seconds.",
                                  MetricType::Gauge, p.startTimeSeconds));
    }
    std::ostringstream text;
    prometheus::TextSerializer().Serialize(text, families);
    return text.str();
}

} // namespace qx200
