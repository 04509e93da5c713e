// Hard traffic from the line under a console on its real serial service: every byte value in
// uneven bursts, and a flood of random bytes that never stops.

#include "e2e/FaultSupport.h"
#include "protocol/TraceRendering.h"
#include "support/PseudoTerminal.h"
#include "support/Simulator.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <random>
#include <thread>

namespace qx200::testing {
namespace {

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// 1 MiB: every byte value in order four times over, then random bytes.
QByteArray everyByteMebibyte(std::mt19937& random)
{
    QByteArray bytes;
    bytes.reserve(1 << 20);
    for (int round = 0; round < 4; ++round) {
        for (int value = 0; value < 256; ++value)
            bytes.append(char(value));
    }
    while (bytes.size() < (1 << 20))
        bytes.append(char(random() & 0xFF));
    return bytes;
}

TEST(FaultLine, HandsOverEveryByteOnceAndInArrivalOrder)
{
    std::mt19937 random(20240611);
    const QByteArray written = everyByteMebibyte(random);

    PseudoTerminal line;
    FaultConsole console(line.link());
    ASSERT_TRUE(console.port.PortOpen()) << console.messages.join('\n').toStdString();
    QByteArray handedOver;
    int inputs = 0;
    console.recorder.onInput = [&](const QByteArray& bytes) {
        handedOver += bytes;
        ++inputs;
    };

    // The far end writes in chunks of 1 byte to 8 KiB, now and then pausing up to 3 ms, while
    // the console's event loop runs here.
    std::thread writer([&line, &written, seed = random()] {
        std::mt19937 pace(seed);
        qsizetype done = 0;
        while (done < written.size()) {
            const qsizetype chunk =
                std::min<qsizetype>(written.size() - done, qsizetype(1 + pace() % 8192));
            line.write(written.mid(done, chunk));
            done += chunk;
            if (pace() % 2 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(pace() % 3000));
        }
    });
    const bool complete = waitUntil([&] { return handedOver.size() >= written.size(); }, 120000);
    writer.join();
    runFor(100); // nothing more may come

    ASSERT_TRUE(complete) << handedOver.size() << " of " << written.size() << " bytes";
    EXPECT_EQ(handedOver.size(), written.size());
    EXPECT_EQ(sha256(handedOver), sha256(written));
    // No reply window ran, so the collection holds the first bytes that can be shown, and the
    // receive trace their rendering.
    const QByteArray shown = written.first(MaxRenderedBytes);
    EXPECT_EQ(collectedBytes(console.form->state().RxText), shown);
    EXPECT_EQ(console.form->Label12->text(), QString::fromLatin1(renderTrace(shown)));
    std::printf("fidelity: %lld bytes in %d hand-overs, sha256 %s\n",
                static_cast<long long>(handedOver.size()), inputs, sha256(handedOver).constData());
}

TEST(FaultLine, AFloodStaysBoundedRenderedAndTheWindowAnswers)
{
    constexpr int FloodMs = 3000;
    Simulator simulator({QStringLiteral("--flood"), QStringLiteral("1000000")});
    FaultConsole console(simulator.link());
    ASSERT_TRUE(console.port.PortOpen()) << console.messages.join('\n').toStdString();
    console.form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(console.form.get()));
    console.openServicePanel(); // the traces are painted while the flood goes on
    console.form->Text1->setText(QStringLiteral("CR9")); // the raw query: the status line
    console.click("Command95");                          // shows what the trace got since

    qint64 received = 0;
    console.recorder.onInput = [&](const QByteArray& bytes) { received += bytes.size(); };
    qsizetype longestCollection = 0;
    qsizetype longestTrace = 0;
    int misrendered = 0;
    int arrivals = 0;
    console.afterEachArrival([&] {
        const RenderedText& collection = console.form->state().RxText;
        const QByteArray& collected = collectedBytes(collection);
        const QString trace = console.form->Label12->text();
        longestCollection = std::max(longestCollection, collected.size());
        longestTrace = std::max(longestTrace, trace.size());
        ++arrivals;
        // The raw query's status shows what came since it was sent.
        const QByteArray rendering = renderTrace(collected);
        if (trace != QString::fromLatin1(rendering) ||
            console.form->Label22->text() !=
                QString::fromLatin1(renderingFrom(rendering, collection.markAt())))
            ++misrendered;
    });

    const qint64 residentBefore = residentKiB();
    LoopLatency latency;
    runFor(FloodMs);
    const qint64 residentAfter = residentKiB();

    EXPECT_GT(received, 300'000) << "the flood did not come through";
    EXPECT_LE(longestCollection, MaxRenderedBytes);
    EXPECT_LE(longestTrace, 1 + 4 * MaxRenderedBytes);
    EXPECT_EQ(misrendered, 0) << "of " << arrivals << " arrivals";
    if (ResidentMemoryTellsLeaks) {
        EXPECT_LT(residentAfter - residentBefore, 16 * 1024) << "KiB more resident memory";
    }
    EXPECT_LT(latency.worstMs(), 500) << "the window stopped answering";

    // A click in the middle of the flood writes its line before it returns.
    QByteArray sent;
    console.recorder.onOutput = [&](const QByteArray& bytes) { sent += bytes; };
    QElapsedTimer clickTime;
    clickTime.start();
    console.click("Command44"); // STATUS
    const qint64 clickMs = clickTime.elapsed();
    EXPECT_EQ(sent, QByteArray("CR0\r"));
    EXPECT_LT(clickMs, 250);
    EXPECT_TRUE(console.messages.isEmpty()) << console.messages.join('\n').toStdString();

    std::printf("flood: %lld bytes in %d arrivals over %d ms; longest collection %lld, longest "
                "trace %lld; resident %lld -> %lld KiB%s; worst event-loop gap %lld ms; click "
                "%lld ms\n",
                static_cast<long long>(received), arrivals, FloodMs,
                static_cast<long long>(longestCollection), static_cast<long long>(longestTrace),
                static_cast<long long>(residentBefore), static_cast<long long>(residentAfter),
                ResidentMemoryTellsLeaks ? "" : " (not judged under the address sanitizer)",
                static_cast<long long>(latency.worstMs()), static_cast<long long>(clickMs));
}

} // namespace
} // namespace qx200::testing
