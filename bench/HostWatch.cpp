#include "HostWatch.h"

#include <algorithm>
#include <pthread.h>
#include <sched.h>
#include <stdexcept>
#include <sys/timerfd.h>
#include <unistd.h>

namespace qx200::bench {

using std::chrono::duration_cast;
using std::chrono::microseconds;
using std::chrono::milliseconds;

HostWatch::HostWatch() : start_(Clock::now() + milliseconds(10))
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    ::sched_getaffinity(0, sizeof allowed, &allowed);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed))
            continue;
        auto processor = std::make_unique<Processor>();
        processor->cpu = cpu;
        processor->timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
        if (processor->timer < 0)
            throw std::runtime_error("no timer for watching the machine");
        processor->late.reset(new std::uint16_t[Ticks]);
        // Touch every page now: the process must not grow while its memory is measured.
        std::fill_n(processor->late.get(), Ticks, std::uint16_t(0));
        processors_.push_back(std::move(processor));
    }
    for (const auto& processor : processors_)
        processor->thread = std::thread([this, &p = *processor] { watch(p); });
}

HostWatch::~HostWatch()
{
    stopping_ = true;
    for (const auto& processor : processors_)
        processor->thread.join();
}

HostWatch::Processor::~Processor()
{
    if (timer >= 0)
        ::close(timer);
}

bool HostWatch::realTime() const
{
    return std::ranges::all_of(processors_, [](const auto& p) { return p->realTime.load(); });
}

void HostWatch::watch(Processor& processor)
{
    cpu_set_t only;
    CPU_ZERO(&only);
    CPU_SET(processor.cpu, &only);
    sched_param priority{};
    priority.sched_priority = ::sched_get_priority_max(SCHED_FIFO);
    processor.realTime = ::pthread_setaffinity_np(::pthread_self(), sizeof only, &only) == 0 &&
                         ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &priority) == 0;

    // steady_clock is CLOCK_MONOTONIC, the timer's clock.
    const auto first = start_.time_since_epoch();
    itimerspec grid{};
    grid.it_value.tv_sec = duration_cast<std::chrono::seconds>(first).count();
    grid.it_value.tv_nsec = (first % std::chrono::seconds(1)).count();
    grid.it_interval.tv_nsec = 1'000'000;
    ::timerfd_settime(processor.timer, TFD_TIMER_ABSTIME, &grid, nullptr);

    int tick = 0;
    while (!stopping_ && tick < Ticks) {
        std::uint64_t expirations = 0;
        if (::read(processor.timer, &expirations, sizeof expirations) != sizeof expirations)
            break;
        const Clock::time_point woke = Clock::now();
        // Ticks that one wake covered all came late, each by its own distance from the wake.
        for (std::uint64_t i = 0; i < expirations && tick < Ticks; ++i, ++tick) {
            const auto late = (woke - (start_ + milliseconds(tick))) / Step;
            processor.late[tick] = std::uint16_t(std::clamp<long long>(late, 0, 65535));
        }
        processor.ticks.store(tick, std::memory_order_release);
    }
}

int HostWatch::tickAt(Clock::time_point t) const
{
    // The first tick due at t or after.
    const auto since = duration_cast<microseconds>(t - start_).count();
    return int(std::clamp<long long>((since + 999) / 1000, 0, Ticks));
}

double HostWatch::lateMs(int tick) const
{
    double late = 0;
    for (const auto& processor : processors_) {
        if (tick < processor->ticks.load(std::memory_order_acquire))
            late = std::max(late, processor->late[tick] * (Step.count() / 1000.0));
    }
    return late;
}

double HostWatch::lateMs(Clock::time_point due) const
{
    return lateMs(tickAt(due));
}

double HostWatch::worstLateMs(Clock::time_point from, Clock::time_point to) const
{
    double worst = 0;
    for (int tick = tickAt(from); tick < tickAt(to); ++tick)
        worst = std::max(worst, lateMs(tick));
    return worst;
}

} // namespace qx200::bench
