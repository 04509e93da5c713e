#pragma once

// What the benchmarks report: figures against their marks, the median of each over the runs,
// the machine they ran on and how crowded it was.

#include "Stats.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <limits>
#include <span>
#include <sys/utsname.h>
#include <thread>
#include <vector>

namespace qx200::bench {

struct Mark {
    const char* key;
    const char* unit;
    double low;  // -inf: no lower mark
    double high; // +inf: no upper mark; with `relativeTo`, a factor of that figure's median
    const char* relativeTo = nullptr;
};
inline constexpr double None = std::numeric_limits<double>::infinity();

inline QString markText(const Mark& mark)
{
    if (mark.relativeTo)
        return QStringLiteral("<= %1x %2").arg(mark.high).arg(QString::fromLatin1(mark.relativeTo));
    if (mark.low == -None && mark.high == None)
        return QStringLiteral("-");
    if (mark.low == mark.high)
        return QStringLiteral("= %1").arg(mark.low);
    if (mark.low == -None)
        return QStringLiteral("<= %1").arg(mark.high);
    if (mark.high == None)
        return QStringLiteral(">= %1").arg(mark.low);
    return QStringLiteral("%1 to %2").arg(mark.low).arg(mark.high);
}

inline bool reaches(const Mark& mark, double value)
{
    return value >= mark.low && value <= mark.high; // NaN (no samples) reaches nothing
}

// A mark relative to another figure, made absolute with that figure's median in the result.
inline Mark absolute(const Mark& mark, const QJsonObject& result)
{
    if (!mark.relativeTo)
        return mark;
    const QJsonValue base = result[mark.relativeTo];
    return {mark.key, mark.unit, mark.low,
            base.isDouble() ? mark.high * base.toDouble() : std::nan("")};
}

inline QString figureText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("n/a");
    const double magnitude = std::abs(value);
    return QString::number(value, 'f', magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : 3);
}

// Prints each figure's median over the runs against its mark, with every run's value, and puts
// the medians into `result`. Returns how many figures miss their mark.
inline int reportMedians(std::span<const Mark> marks, const QJsonArray& runs, QJsonObject& result)
{
    std::printf("\n%-28s %12s %12s   %-24s %s\n", "figure", "median", "mark", "runs", "");
    int missed = 0;
    for (const Mark& mark : marks) {
        std::vector<double> values;
        QStringList each;
        for (const QJsonValue& run : runs) {
            // A figure without samples is written as null and counts as not reached.
            const QJsonValue value = run.toObject()[mark.key];
            values.push_back(value.isDouble() ? value.toDouble() : std::nan(""));
            each << figureText(values.back());
        }
        const double middle = std::ranges::any_of(values, [](double v) { return std::isnan(v); })
                                  ? std::nan("")
                                  : median(values);
        result[mark.key] = std::isnan(middle) ? QJsonValue() : QJsonValue(middle);
        const bool ok = reaches(absolute(mark, result), middle);
        missed += ok ? 0 : 1;
        std::printf("%-28s %12s %12s   %-24s %s\n", mark.key,
                    qPrintable(figureText(middle) + (*mark.unit ? " " : "") + mark.unit),
                    qPrintable(markText(mark)), qPrintable(each.join(QStringLiteral(" / "))),
                    ok ? "ok" : "MISSED");
    }
    return missed;
}

// Writes the result as JSON and says whether every figure reached its mark. Returns the
// program's exit status: 1 only when the file cannot be written.
inline int writeResult(const QJsonObject& result, const QString& path, int missed)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    out.write(QJsonDocument(result).toJson());
    std::printf("\n%s; written to %s\n",
                missed ? qPrintable(QStringLiteral("%1 figure(s) miss their mark").arg(missed))
                       : "every figure reaches its mark",
                qPrintable(path));
    return 0;
}

inline QJsonObject machine()
{
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1).trimmed());
                break;
            }
        }
    }
    utsname system{};
    ::uname(&system);
    return {
        {"cpu", cpu},
        {"cores", int(std::thread::hardware_concurrency())},
        {"kernel", QStringLiteral("%1 %2").arg(system.sysname, system.release)},
        {"qt", QString::fromLatin1(qVersion())},
    };
}

// CPU pressure: the share of time in which some runnable task waited for a CPU. The kernel
// keeps a ten-second average and a running total of the waiting in microseconds.
struct CpuPressure {
    double avg10 = 0; // percent
    qint64 totalUs = 0;
};
inline CpuPressure cpuPressure()
{
    QFile file(QStringLiteral("/proc/pressure/cpu"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    CpuPressure pressure;
    for (const QByteArray& field : file.readLine().trimmed().split(' ')) {
        if (field.startsWith("avg10="))
            pressure.avg10 = field.mid(6).toDouble();
        else if (field.startsWith("total="))
            pressure.totalUs = field.mid(6).toLongLong();
    }
    return pressure;
}

// Timer figures say nothing while other work crowds the CPUs: wait a while for it to pass.
inline void awaitQuietMachine()
{
    constexpr double Quiet = 5;
    constexpr int PatienceS = 300;
    for (int waited = 0; cpuPressure().avg10 > Quiet && waited < PatienceS; waited += 5) {
        if (waited == 0)
            std::printf("waiting up to %d s for the machine to quieten (cpu pressure %.0f%%)\n",
                        PatienceS, cpuPressure().avg10);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(5));
    }
}

} // namespace qx200::bench
