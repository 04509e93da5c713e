#include "Run.h"

#include "HostWatch.h"
#include "MasterEnd.h"
#include "ServiceProcess.h"
#include "Stats.h"
#include "console/Form1.h"
#include "console/port/DeviceResolution.h"
#include "console/program/ConsoleRecorder.h"
#include "serial/QtSerialPort.h"
#include "startup/StartupRuns.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <optional>
#include <stdexcept>
#include <time.h>
#include <utility>

namespace qx200::bench {
namespace {

using namespace std::chrono_literals;
using std::chrono::duration;
using std::chrono::milliseconds;

double us(Clock::duration d)
{
    return duration<double, std::micro>(d).count();
}

double ms(Clock::duration d)
{
    return duration<double, std::milli>(d).count();
}

// Resident memory of this process in MiB.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
    }
    return 0;
}

// CPU time of the calling thread.
Clock::duration threadCpuTime()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// Lets the event loop run, sleeping when idle, for the given time.
void runFor(milliseconds time)
{
    QEventLoop loop;
    QTimer::singleShot(time, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

class PaintWatch : public QObject {
public:
    bool painted = false;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

// Notes when a label is painted showing a caption.
class CaptionWatch : public QObject {
public:
    explicit CaptionWatch(QString caption) : caption_(std::move(caption)) {}
    bool seen = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && static_cast<QLabel*>(watched)->text() == caption_)
            seen = true;
        return false;
    }

private:
    QString caption_;
};

// The time from each sending action to the arrival of its line's last byte at the master,
// given the byte total that the line completes.
struct Send {
    Clock::time_point at;
    qint64 completes;
};
std::vector<double> latenciesUs(const std::vector<Send>& sends,
                                const std::vector<Arrival>& arrivals)
{
    std::vector<double> result;
    for (const Send& send : sends) {
        const auto arrival =
            std::ranges::lower_bound(arrivals, send.completes, {}, &Arrival::total);
        if (arrival != arrivals.end())
            result.push_back(us(arrival->at - send.at));
    }
    return result;
}

std::vector<Line> linesWith(const std::vector<Arrival>& arrivals, const QByteArray& text)
{
    std::vector<Line> lines = linesOf(arrivals);
    std::erase_if(lines, [&](const Line& line) { return line.text != text; });
    return lines;
}

class Run {
public:
    Run() { qputenv("QX200_COM1", master_.device().toLocal8Bit()); }
    ~Run() { form_.reset(); }

    QJsonObject measure()
    {
        const QJsonObject startup = measureStartup();
        for (auto figure = startup.begin(); figure != startup.end(); ++figure)
            figures_[figure.key()] = figure.value();
        startUp();
        runFor(300ms);
        figures_["rss_mb"] = residentMb();

        // The operator watches the traces: the data view shows them and the status buttons.
        QTest::mouseClick(button("Command34"), Qt::LeftButton);
        runFor(200ms);

        clickToWire();
        replyToStatus();
        runFor(1100ms); // the trace clearing of the last round
        repeat50();
        runFor(1100ms);
        repeat5();
        runFor(1100ms);
        flood();
        tcpClickToWire();
        serviceFigures();
        detail_["real_time_reader"] = master_.realTimeReader();
        detail_["real_time_watch"] = watch_.realTime();
        detail_["machine_alone"] = machineAlone_;
        form_.reset();
        recorder_.reset();
        record_.reset(); // the last lines written
        if (!recordFailure_.isEmpty())
            throw std::runtime_error(recordFailure_.toStdString());
        detail_["session_record_mib"] = double(QFileInfo(recordFile_).size()) / (1 << 20);
        figures_["detail"] = detail_;
        return figures_;
    }

private:
    QPushButton* button(const char* name) const
    {
        auto* found = form_->findChild<QPushButton*>(QString::fromLatin1(name));
        if (!found)
            throw std::runtime_error(std::string("no control ") + name);
        return found;
    }

    void startUp()
    {
        PaintWatch watch;
        const Clock::time_point start = Clock::now();
        form_ = std::make_unique<Form1>(port_);
        // The console keeps its session record, as it does for the operator.
        recorder_->watch(*form_);
        record_->failed = [this](const QString& text) { recordFailure_ = text; };
        form_->messageBox = [](const QString& text) {
            throw std::runtime_error("message box: " + text.toStdString());
        };
        form_->endProgram = [] {};
        form_->installEventFilter(&watch);
        form_->dispatch([this] { form_->Form_Load(); });
        form_->show();
        const Clock::time_point deadline = start + 10s;
        while (!watch.painted && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const Clock::time_point painted = Clock::now();
        form_->removeEventFilter(&watch);
        if (!watch.painted)
            throw std::runtime_error("the window was never painted");
        if (!comm_.PortOpen())
            throw std::runtime_error("the console did not open the line");
        detail_["startup_in_process_ms"] = ms(painted - start);
    }

    // The time from a click on "POWER" "ON" to its line's last byte at the far end, 1000 times.
    static std::vector<Send> clickToWire(Form1& form, MasterEnd& end, std::vector<double>& handling)
    {
        auto* on = form.findChild<QPushButton*>(QStringLiteral("Command17"));
        end.take();
        std::vector<Send> sends;
        for (int i = 0; i < 1000; ++i) {
            runFor(2ms); // the click finds the console idle
            const qint64 completes = end.received() + 4;
            sends.push_back({Clock::now(), completes});
            QTest::mouseClick(on, Qt::LeftButton);
            handling.push_back(us(Clock::now() - sends.back().at));
            if (!end.waitForReceived(completes, 1s))
                throw std::runtime_error("a click's line never arrived");
        }
        return sends;
    }

    void clickToWire()
    {
        std::vector<double> handling; // the click's own handling, send included
        const std::vector<Send> sends = clickToWire(*form_, master_, handling);
        const std::vector<double> latencies = latenciesUs(sends, master_.take());
        figures_["click_to_wire_p50_us"] = percentile(latencies, 50);
        figures_["click_to_wire_p99_us"] = percentile(latencies, 99);
        detail_["click_to_wire_max_us"] = percentile(latencies, 100);
        detail_["click_handling_p50_us"] = percentile(handling, 50);
        detail_["click_handling_p99_us"] = percentile(handling, 99);
        std::vector<double> aloneUs;
        for (const Send& send : sends)
            aloneUs.push_back(1000 * watch_.lateMs(send.at));
        machineAlone_["click_to_wire_p99_us"] = percentile(aloneUs, 99);
    }

    // Starts a console on a network device and waits until it is connected.
    static void attach(Form1& form, QtSerialPort& comm)
    {
        form.messageBox = [](const QString& text) {
            throw std::runtime_error("message box: " + text.toStdString());
        };
        form.endProgram = [] {};
        form.dispatch([&] { form.Form_Load(); });
        form.show();
        const Clock::time_point deadline = Clock::now() + 10s;
        while (comm.deviceLost() && Clock::now() < deadline)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (comm.deviceLost())
            throw std::runtime_error("the console never connected to " +
                                     comm.Device().toStdString());
        runFor(300ms);
    }

    // The same clicks on a console whose COM1 is a serial server's TCP port on this machine.
    void tcpClickToWire()
    {
        form_.reset();
        comm_.PortOpen(false);
        MasterEnd server(MasterEnd::Transport::Tcp);
        QtSerialPort comm([&](std::int16_t) { return server.device(); });
        Form1 form(comm);
        attach(form, comm);
        std::vector<double> handling;
        const std::vector<Send> sends = clickToWire(form, server, handling);
        const std::vector<double> latencies = latenciesUs(sends, server.take());
        figures_["tcp_click_to_wire_p99_us"] = percentile(latencies, 99);
        detail_["tcp_click_to_wire_p50_us"] = percentile(latencies, 50);
    }

    void replyToStatus()
    {
        QPushButton* status = button("Command44");
        QLabel* line = form_->Label22;
        CaptionWatch watch(QStringLiteral(" Power ON")); // shown once it is painted
        line->installEventFilter(&watch);
        QTimer watchdog; // wakes the loop below if the status never shows
        watchdog.setSingleShot(true);
        std::vector<double> latencies;
        int missed = 0;
        for (int i = 0; i < 1000; ++i) {
            runFor(2ms);
            line->clear(); // else the previous round's status would already be there
            const qint64 completes = master_.received() + 4;
            QTest::mouseClick(status, Qt::LeftButton);
            if (!master_.waitForReceived(completes, 1s))
                throw std::runtime_error("the status query never arrived");
            runFor(1ms); // the click's own painting is done
            watch.seen = false;
            const Clock::time_point replied = Clock::now();
            master_.write("00\r");
            watchdog.start(1000);
            while (!watch.seen && watchdog.isActive())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            const Clock::time_point painted = Clock::now();
            // Missed: the trace clearing (Timer4) emptied the line before it was painted.
            if (watchdog.isActive())
                latencies.push_back(us(painted - replied));
            else
                ++missed;
            watchdog.stop();
        }
        line->removeEventFilter(&watch);
        master_.take();
        figures_["reply_to_status_p99_us"] = percentile(latencies, 99);
        detail_["reply_to_status_p50_us"] = percentile(latencies, 50);
        detail_["reply_to_status_missed"] = missed;
    }

    // Holds a button for the time; the moment of the release.
    static Clock::time_point hold(QPushButton* held, milliseconds time)
    {
        QTest::mousePress(held, Qt::LeftButton);
        runFor(time);
        const Clock::time_point released = Clock::now();
        QTest::mouseRelease(held, Qt::LeftButton);
        return released;
    }

    void repeat50()
    {
        master_.take();
        hold(button("Command15"), 2000ms); // "Brightness" "+"
        runFor(200ms);
        figures_["repeat50_lines_2s"] = double(linesWith(master_.take(), "C20").size());
    }

    // The up arrow held for 2 s at its fastest repeat: what reached the far end.
    struct Repeat {
        Clock::time_point pressed;
        Clock::time_point released;
        Clock::duration cpu;
        std::vector<Arrival> arrivals;
        std::size_t lines = 0;
        std::vector<double> gapsMs; // between the lines' arrivals

        double ratio() const { return double(lines) / (2000.0 / 5 + 1); }
    };

    static Repeat repeat5(Form1& form, MasterEnd& end)
    {
        // A D.Zoom release switches the arrows to their fastest pacing.
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command48")),
                          Qt::LeftButton);
        runFor(300ms);
        end.take();
        Repeat run;
        const Clock::duration cpuBefore = threadCpuTime();
        run.pressed = Clock::now();
        run.released = hold(form.findChild<QPushButton*>(QStringLiteral("Command5")), 2000ms);
        run.cpu = threadCpuTime() - cpuBefore;
        runFor(200ms);
        run.arrivals = end.take();
        const std::vector<Line> lines = linesWith(run.arrivals, "C3C");
        run.lines = lines.size();
        for (std::size_t i = 1; i < lines.size(); ++i)
            run.gapsMs.push_back(ms(lines[i].at - lines[i - 1].at));
        return run;
    }

    void repeat5()
    {
        const Repeat run = repeat5(*form_, master_);
        std::vector<double> aloneGaps;
        for (Clock::time_point due = run.pressed; due + 5ms <= run.released; due += 5ms)
            aloneGaps.push_back(5 + watch_.lateMs(due + 5ms) - watch_.lateMs(due));
        machineAlone_["repeat5_interval_p99_ms"] = percentile(aloneGaps, 99);
        figures_["repeat5_ratio"] = run.ratio();
        figures_["repeat5_interval_p99_ms"] = percentile(run.gapsMs, 99);
        figures_["release_tail_ms"] =
            run.arrivals.empty() ? 0.0 : std::max(0.0, ms(run.arrivals.back().at - run.released));
        detail_["repeat5_lines"] = double(run.lines);
        detail_["repeat5_console_cpu_percent"] = 100 * ms(run.cpu) / 2000;
        detail_["repeat5_interval_max_ms"] = percentile(run.gapsMs, 100);
    }

    // The console attached through qx200d to a line the service owns, its poller running on the
    // same line: clicks and the fastest repeat, where the projector reads them.
    void serviceFigures()
    {
        MasterEnd line;
        ServiceProcess service(line.link());
        QtSerialPort comm([&](std::int16_t) { return service.consoleDevice(); });
        Form1 form(comm);
        attach(form, comm);
        // The first click waits for a poller query in flight; from then on the operator holds
        // the line and the poller waits.
        QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("Command17")),
                          Qt::LeftButton);
        if (!line.waitForReceived(line.received() + 4, 3s))
            throw std::runtime_error("the console's line never crossed the service");
        std::vector<double> handling;
        const std::vector<Send> sends = clickToWire(form, line, handling);
        const std::vector<double> latencies = latenciesUs(sends, line.take());
        figures_["service_click_to_wire_p99_us"] = percentile(latencies, 99);
        detail_["service_click_to_wire_p50_us"] = percentile(latencies, 50);
        runFor(1100ms);
        const Repeat run = repeat5(form, line);
        figures_["service_repeat5_ratio"] = run.ratio();
        figures_["service_repeat5_interval_p99_ms"] = percentile(run.gapsMs, 99);
        detail_["service_repeat5_interval_max_ms"] = percentile(run.gapsMs, 100);
    }

    void flood()
    {
        constexpr double Rate = 1 << 20; // bytes per second
        constexpr auto Length = 10s;
        master_.take();
        const double residentBefore = residentMb();
        double residentPeak = residentBefore;

        // The probe: how late the event loop serves a 1 ms timer; the longest gap between ticks.
        std::pair<Clock::time_point, Clock::time_point> longestGap{};
        Clock::time_point lastProbe{};
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const Clock::time_point now = Clock::now();
            if (lastProbe != Clock::time_point{} &&
                now - lastProbe > longestGap.second - longestGap.first)
                longestGap = {lastProbe, now};
            lastProbe = now;
        });

        // A click every 100 ms; nothing else sends, so click k completes byte 4 (k + 1).
        QPushButton* on = button("Command17");
        const qint64 base = master_.received();
        std::vector<Send> sends;
        QTimer clicker;
        clicker.setTimerType(Qt::PreciseTimer);
        clicker.setInterval(100);
        QObject::connect(&clicker, &QTimer::timeout, [&] {
            residentPeak = std::max(residentPeak, residentMb());
            sends.push_back({Clock::now(), base + 4 * qint64(sends.size() + 1)});
            QTest::mouseClick(on, Qt::LeftButton);
        });

        const Clock::duration cpuBefore = threadCpuTime();
        const Clock::time_point start = Clock::now();
        master_.startFlood(Rate, 1ms);
        probe.start();
        clicker.start();
        runFor(Length);
        const Clock::time_point end = Clock::now();
        clicker.stop();
        probe.stop();
        const qint64 written = master_.stopFlood();
        const Clock::duration cpu = threadCpuTime() - cpuBefore;
        runFor(500ms); // the console catches up with what is still in the line
        residentPeak = std::max(residentPeak, residentMb());

        const std::vector<double> latencies = latenciesUs(sends, master_.take());
        figures_["flood_max_stall_ms"] =
            std::max(0.0, ms(longestGap.second - longestGap.first) - 1.0);
        figures_["flood_rss_growth_mb"] = residentPeak - residentBefore;
        figures_["flood_click_to_wire_p99_ms"] = percentile(latencies, 99) / 1000;
        detail_["flood_written_mib_per_s"] =
            double(written) / (1 << 20) / duration<double>(Length).count();
        detail_["flood_console_cpu_percent"] = 100 * ms(cpu) / ms(Length);
        machineAlone_["flood_max_stall_ms"] = watch_.worstLateMs(start, end);
        // How much of the worst stall the machine alone shared.
        detail_["flood_max_stall_machine_late_ms"] =
            watch_.worstLateMs(longestGap.first, longestGap.second);
        detail_["flood_clicks"] = double(sends.size());
        detail_["flood_clicks_arrived"] = double(latencies.size());
    }

    HostWatch watch_;
    MasterEnd master_;
    QtSerialPort comm_{devicePathFor};
    ObservedPort port_{comm_};
    QTemporaryDir recordDir_;
    const QString recordFile_ = recordDir_.filePath(QStringLiteral("session.tsv"));
    std::unique_ptr<record::SessionRecord> record_ =
        std::make_unique<record::SessionRecord>(recordFile_);
    std::optional<ConsoleRecorder> recorder_{std::in_place, *record_, port_};
    QString recordFailure_;
    std::unique_ptr<Form1> form_;
    QJsonObject figures_;
    QJsonObject detail_;
    // The machine's own share of some figures: what a thread nothing in the process can hold
    // back reached in the same moments, in the figure's units.
    QJsonObject machineAlone_;
};

} // namespace

QJsonObject measureRun()
{
    Run run;
    return run.measure();
}

} // namespace qx200::bench
