#pragma once

#include <QObject>
#include <QProperty>
#include <chrono>
#include <optional>

class QSocketNotifier;
class QTimer;

namespace qx200 {

// Qt's event loop sleeps in whole milliseconds, rounded up, so a precise QTimer can fire up to a
// millisecond late: a fifth of the fastest repeat. A PreciseWake follows one QTimer and sets a
// kernel timer for the moment the QTimer falls due, which wakes the event loop then, and Qt fires
// its timer on time. The QTimer stays the only source of its ticks: should the two ever part
// (after a stall longer than the interval Qt starts the schedule afresh), a tick merely comes as
// late as it would have without this.
class PreciseWake : public QObject {
public:
    explicit PreciseWake(QTimer& timer); // a child of the timer, gone with it
    ~PreciseWake() override;
    PreciseWake(const PreciseWake&) = delete;
    PreciseWake& operator=(const PreciseWake&) = delete;

    // The time left until the wake, as the kernel holds it; none when nothing is set.
    std::optional<std::chrono::nanoseconds> untilWake() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    using Clock = std::chrono::steady_clock;

    void restart(); // the timer started, stopped or took a new interval
    void ticked();  // the timer fell due; Qt has set its next due time
    void wakeAt(Clock::time_point when);

    QTimer& timer_;
    int alarm_ = -1;
    QSocketNotifier* alarmNotifier_ = nullptr;
    Clock::time_point due_{};
    QPropertyNotifier activeWatch_;
    QPropertyNotifier intervalWatch_;
};

} // namespace qx200
