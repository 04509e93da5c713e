#include "StartupRuns.h"

#include "Stats.h"
#include "support/PseudoTerminal.h"

#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <stdexcept>
#include <vector>

namespace qx200::bench {
namespace {

constexpr int Launches = 7;

// One launch: the steady-clock time of each phase's end, in ms since the launch, in order.
struct Launch {
    std::vector<std::pair<QString, double>> phases;
    double restRssMb = 0;
    double paintedMs() const { return phases.back().second; }
};

Launch launch(const QString& program, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardErrorFile(QProcess::nullDevice());
    const auto start = std::chrono::steady_clock::now().time_since_epoch();
    process.start(program, {});
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        throw std::runtime_error(program.toStdString() + " did not start and end by itself");
    const double startNs = double(std::chrono::nanoseconds(start).count());
    Launch result;
    for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 2)
            continue;
        if (fields[0] == "rss")
            result.restRssMb = fields[1].toDouble() / 1024;
        else
            result.phases.emplace_back(QString::fromLatin1(fields[0]),
                                       (fields[1].toDouble() - startNs) / 1e6);
    }
    if (result.phases.empty() || result.phases.back().first != QLatin1String("painted"))
        throw std::runtime_error(program.toStdString() + " was never painted");
    return result;
}

// Each phase's own time (the first one from the launch), its median over the launches, in the
// order the phases come: [{"phase": "exec_to_main", "ms": 9.1}, ...].
QJsonArray phaseMedians(const std::vector<Launch>& launches)
{
    QJsonArray medians;
    for (std::size_t i = 0; i < launches.front().phases.size(); ++i) {
        std::vector<double> each;
        for (const Launch& one : launches)
            each.push_back(one.phases[i].second - (i > 0 ? one.phases[i - 1].second : 0));
        const QString& phase = launches.front().phases[i].first;
        medians.append(QJsonObject{
            {"phase", i == 0 ? QStringLiteral("exec_to_main") : phase},
            {"ms", percentile(each, 50)},
        });
    }
    return medians;
}

double median(const std::vector<Launch>& launches, double (*figure)(const Launch&))
{
    std::vector<double> each;
    for (const Launch& one : launches)
        each.push_back(figure(one));
    return percentile(each, 50);
}

} // namespace

QJsonObject measureStartup()
{
    testing::PseudoTerminal line; // the console's COM1, as a projector's
    QTemporaryDir state;          // its session records
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QX200_COM1"), line.link());
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state.path());

    std::vector<Launch> console;
    std::vector<Launch> empty;
    for (int i = 0; i < Launches; ++i) { // in turn, so that both meet the same machine
        console.push_back(launch(QStringLiteral(QX200_CONSOLE_PROBE), environment));
        empty.push_back(launch(QStringLiteral(QX200_EMPTY_WINDOW), environment));
    }
    const auto painted = [](const Launch& one) { return one.paintedMs(); };
    const auto resting = [](const Launch& one) { return one.restRssMb; };
    QJsonObject figures;
    figures["startup_ms"] = median(console, painted);
    figures["startup_empty_ms"] = median(empty, painted);
    figures["startup_ratio"] = median(console, painted) / median(empty, painted);
    figures["rest_rss_mb"] = median(console, resting);
    figures["rest_rss_empty_mb"] = median(empty, resting);
    figures["rss_ratio"] = median(console, resting) / median(empty, resting);
    figures["startup_phases"] = phaseMedians(console);
    figures["startup_phases_empty"] = phaseMedians(empty);
    return figures;
}

} // namespace qx200::bench
