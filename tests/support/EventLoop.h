#pragma once

// Running the event loop for a while, and what the process spent meanwhile.

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <ctime>

namespace qx200::testing {

// Runs the event loop for a while.
inline void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop, as the program's own would run, until the condition holds (looked at
// every 2 ms) or the time is up.
template <class Condition> bool waitUntil(Condition condition, int timeoutMs)
{
    if (condition())
        return true;
    const QDeadlineTimer deadline(timeoutMs);
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition() || deadline.hasExpired())
            loop.quit();
    });
    poll.start();
    loop.exec();
    return condition();
}

// Processor time this process has used, in seconds.
inline double processorSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The share of one core the process used while its event loop ran for `ms`.
inline double processorShareWhileRunning(int ms)
{
    const double before = processorSeconds();
    runFor(ms);
    return (processorSeconds() - before) / (ms / 1000.0);
}

} // namespace qx200::testing
