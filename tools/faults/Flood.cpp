// qx200-flood: a console on a serial server that asks for a Telnet option as fast as it can and
// reads nothing, for a long time (the server reconnected each time the console gives up on
// it), and checks that resident memory and processor time stayed bounded.
//
// FLOOD_SECONDS sets the length (30 by default). Prints its figures; exits with 1 when a check
// fails.

#include "e2e/FaultSupport.h"
#include "support/TelnetFlood.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <cstdio>

namespace {

using namespace qx200::testing;

constexpr qint64 MaxGrowthKiB = 8192;
constexpr double MaxProcessorShare = 0.3;

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("FLOOD_SECONDS", &ok);
    const qint64 floodMs = qint64(ok && seconds > 0 ? seconds : 30) * 1000;

    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost)) {
        std::fprintf(stderr, "flood: no port on 127.0.0.1\n");
        return 1;
    }
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* client = server.nextPendingConnection()) {
            ++connections;
            floodWithRequests(*client);
        }
    });
    FaultConsole console(QStringLiteral("rfc2217:127.0.0.1:%1").arg(server.serverPort()));
    QStringList told;
    auto own = console.recorder.OnFault;
    console.recorder.OnFault = [&told, own](const QString& text) {
        told << text;
        own(text);
    };

    runFor(2000); // the first connection fills up and is given up on
    const qint64 residentStart = residentKiB();
    const double processorStart = processorSeconds();
    QElapsedTimer clock;
    clock.start();
    qint64 residentMost = residentStart;
    while (clock.elapsed() < floodMs) {
        runFor(1000);
        residentMost = std::max(residentMost, residentKiB());
    }
    const double share = (processorSeconds() - processorStart) / (clock.elapsed() / 1000.0);

    const bool memoryKept = residentMost - residentStart <= MaxGrowthKiB;
    const bool processorKept = share <= MaxProcessorShare;
    const bool toldOnce = told.size() == 1;
    std::printf(
        "flood: %.1f s, %d connections; resident %lld KiB -> at most %lld KiB (%+lld, limit "
        "%lld); processor %.0f%% of a core (limit %.0f%%); told %lld time(s): %s\n",
        clock.elapsed() / 1000.0, connections, static_cast<long long>(residentStart),
        static_cast<long long>(residentMost), static_cast<long long>(residentMost - residentStart),
        static_cast<long long>(MaxGrowthKiB), 100 * share, 100 * MaxProcessorShare,
        static_cast<long long>(told.size()), qPrintable(told.join(u'|')));
    const bool pass = memoryKept && processorKept && toldOnce;
    std::printf("flood: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
