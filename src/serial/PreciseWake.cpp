#include "serial/PreciseWake.h"
#include "serial/Logging.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

namespace qx200 {

PreciseWake::PreciseWake(QTimer& timer)
    : QObject(&timer), timer_(timer),
      alarm_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC))
{
    if (alarm_ < 0) {
        // No kernel timer: the QTimer keeps Qt's own millisecond timing.
        const int error = errno;
        qCDebug(logPanel) << timer.objectName() << "has no kernel timer:" << std::strerror(error);
        return;
    }
    alarmNotifier_ = new QSocketNotifier(alarm_, QSocketNotifier::Read, this);
    connect(alarmNotifier_, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto ignored = ::read(alarm_, &expirations, sizeof expirations);
    });
    activeWatch_ = timer.bindableActive().addNotifier([this] { restart(); });
    intervalWatch_ = timer.bindableInterval().addNotifier([this] { restart(); });
    // Seen before the timeout signal, so before any handler can stop or restart the timer.
    timer.installEventFilter(this);
    restart();
}

PreciseWake::~PreciseWake()
{
    delete alarmNotifier_; // stops watching before the descriptor goes
    if (alarm_ >= 0)
        ::close(alarm_);
}

std::optional<std::chrono::nanoseconds> PreciseWake::untilWake() const
{
    itimerspec left{};
    if (alarm_ < 0 || ::timerfd_gettime(alarm_, &left) != 0 ||
        (left.it_value.tv_sec == 0 && left.it_value.tv_nsec == 0))
        return std::nullopt;
    return std::chrono::seconds(left.it_value.tv_sec) +
           std::chrono::nanoseconds(left.it_value.tv_nsec);
}

bool PreciseWake::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &timer_ && event->type() == QEvent::Timer)
        ticked();
    return false;
}

void PreciseWake::restart()
{
    // Qt counts a (re)started timer's interval from a moment just before this one, so the wake
    // comes a few microseconds after the timer is due, never before.
    if (alarm_ < 0)
        return;
    if (!timer_.isActive() || timer_.interval() <= 0) {
        due_ = {};
        wakeAt(due_); // disarms
        return;
    }
    due_ = Clock::now() + timer_.intervalAsDuration();
    wakeAt(due_);
}

void PreciseWake::ticked()
{
    if (alarm_ < 0 || due_ == Clock::time_point{} || timer_.isSingleShot())
        return;
    // The same rule Qt follows for a precise timer: the next due time is one interval on, unless
    // that has passed already, in which case the schedule starts afresh from now.
    const Clock::time_point now = Clock::now();
    due_ += timer_.intervalAsDuration();
    if (due_ < now)
        due_ = now + timer_.intervalAsDuration();
    wakeAt(due_);
}

// steady_clock counts from the same zero as CLOCK_MONOTONIC, the clock of Qt's timers and of the
// kernel timer.
void PreciseWake::wakeAt(Clock::time_point when)
{
    using namespace std::chrono;
    const auto sinceBoot = duration_cast<nanoseconds>(when.time_since_epoch()).count();
    itimerspec alarm{};
    alarm.it_value.tv_sec = time_t(sinceBoot / 1'000'000'000);
    alarm.it_value.tv_nsec = long(sinceBoot % 1'000'000'000);
    ::timerfd_settime(alarm_, TFD_TIMER_ABSTIME, &alarm, nullptr); // all zero: disarmed
}

} // namespace qx200
