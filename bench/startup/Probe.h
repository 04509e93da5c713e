#pragma once

// What a start-up probe prints on stdout, one line each: "<phase> <steady clock ns>" as each
// phase ends, then "rss <KiB>" once the window has rested. The benchmark reads the lines.

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <chrono>
#include <cstdio>

namespace qx200::bench::probe {

inline void stamp(const char* phase)
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    std::printf("%s %lld\n", phase, static_cast<long long>(std::chrono::nanoseconds(now).count()));
    std::fflush(stdout);
}

inline long residentKib()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').front().toLong();
    }
    return 0;
}

// Stamps "painted" at the first paint of the window named `window`, lets it rest, prints the
// resident memory and ends the event loop.
class FirstPaint final : public QObject {
public:
    static constexpr int RestMs = 500;

    explicit FirstPaint(const char* window) : window_(window) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && watched->objectName() == QLatin1String(window_)) {
            qApp->removeEventFilter(this);
            stamp("painted");
            QTimer::singleShot(RestMs, [] {
                std::printf("rss %ld\n", residentKib());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    const char* window_;
};

} // namespace qx200::bench::probe
