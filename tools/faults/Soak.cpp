// qx200-soak: holds the up arrow at the fastest repeat (every 5 ms) for a long time, with the
// program itself at the far end of the line acknowledging every line as the projector does, and
// checks that every line sent arrived intact and that resident memory stayed where it was.
//
// SOAK_SECONDS sets the length of the hold (600 by default). Prints its figures; exits with 1
// when a check fails.

#include "e2e/FaultSupport.h"
#include "support/PseudoTerminal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

using namespace qx200::testing;

constexpr qint64 MaxGrowthKiB = 2048;

// The far end: splits what the console sends into lines at each CR and acknowledges each.
struct LineCounter {
    QByteArray expected;
    QByteArray partial;
    qint64 intact = 0;
    qint64 garbled = 0;

    void feed(const PseudoTerminal& line, const QByteArray& bytes)
    {
        partial += bytes;
        qsizetype start = 0;
        for (qsizetype cr = partial.indexOf('\r'); cr >= 0; cr = partial.indexOf('\r', start)) {
            if (partial.sliced(start, cr - start) == expected)
                ++intact;
            else
                ++garbled;
            line.write(QByteArray(1, '\x06'));
            start = cr + 1;
        }
        partial.remove(0, start);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("SOAK_SECONDS", &ok);
    const qint64 holdMs = qint64(ok && seconds > 0 ? seconds : 600) * 1000;

    PseudoTerminal line;
    FaultConsole console(line.link());
    if (!console.port.PortOpen()) {
        std::fprintf(stderr, "soak: the port did not open: %s\n",
                     qPrintable(console.messages.join(QLatin1Char('\n'))));
        return 1;
    }
    console.form->show();

    LineCounter counter;
    QSocketNotifier readable(line.master(), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(line.master(), buffer, sizeof buffer)) > 0;)
            counter.feed(line, QByteArray(buffer, n));
    });
    qint64 sent = 0;
    console.recorder.onOutput = [&](const QByteArray&) { ++sent; };

    // A D.Zoom release puts the arrows on the fast pacing (repeat 5 ms); then the up arrow is
    // held. Counting starts with the hold.
    QTest::mousePress(console.button("Command48"), Qt::LeftButton);
    QTest::mouseRelease(console.button("Command48"), Qt::LeftButton);
    runFor(200);
    counter = LineCounter{"C3C", {}, 0, 0};
    sent = 0;
    QTest::mousePress(console.button("Command5"), Qt::LeftButton);

    QElapsedTimer clock;
    clock.start();
    const qint64 warmUpMs = std::min<qint64>(5000, holdMs / 10);
    runFor(int(warmUpMs));
    const qint64 residentStart = residentKiB();
    const double processorStart = processorSeconds();
    for (qint64 next = 60000; clock.elapsed() < holdMs; next += 60000) {
        runFor(int(std::min(next, holdMs) - clock.elapsed()));
        std::printf("soak: %3lld s, %lld lines sent, %lld intact, resident %lld KiB\n",
                    clock.elapsed() / 1000, static_cast<long long>(sent),
                    static_cast<long long>(counter.intact), static_cast<long long>(residentKiB()));
        std::fflush(stdout);
    }
    const qint64 residentEnd = residentKiB();
    const double processor = processorSeconds() - processorStart;
    const qint64 heldMs = clock.elapsed();
    QTest::mouseRelease(console.button("Command5"), Qt::LeftButton);
    waitUntil([&] { return counter.intact + counter.garbled >= sent; }, 5000);

    const bool allIntact = counter.intact == sent && counter.garbled == 0 && sent > 0;
    const bool memoryKept = residentEnd - residentStart <= MaxGrowthKiB;
    std::printf(
        "soak: held %.1f s at %d ms; %lld lines sent (%.0f a second), %lld arrived "
        "intact, %lld garbled%s; resident %lld KiB after %.1f s -> %lld KiB at the end "
        "(%+lld KiB, limit %lld); processor %.0f%% of a core; messages: %lld\n",
        heldMs / 1000.0, console.form->Timer1->interval(), static_cast<long long>(sent),
        sent / (heldMs / 1000.0), static_cast<long long>(counter.intact),
        static_cast<long long>(counter.garbled),
        counter.partial.isEmpty() ? "" : ", a partial line left",
        static_cast<long long>(residentStart), warmUpMs / 1000.0,
        static_cast<long long>(residentEnd), static_cast<long long>(residentEnd - residentStart),
        static_cast<long long>(MaxGrowthKiB), 100.0 * processor / ((heldMs - warmUpMs) / 1000.0),
        static_cast<long long>(console.messages.size()));
    std::printf("soak: %s\n",
                allIntact && memoryKept && console.messages.isEmpty() ? "PASS" : "FAIL");
    return allIntact && memoryKept && console.messages.isEmpty() ? 0 : 1;
}
