#pragma once

// The machine's own punctuality, watched all through a run. On every processor a thread of the
// highest real-time priority, bound to it, wakes on a shared 1 ms grid and notes how late each
// wake came. Nothing in the process can hold those threads back, so their lateness is the
// kernel's and the host's: a virtual machine's host holds up its virtual processors now and then,
// and whatever the console was doing there comes late by as much. Lateness is kept per tick in
// memory taken up front, so watching does not grow the process while it is measured.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

namespace qx200::bench {

class HostWatch {
public:
    using Clock = std::chrono::steady_clock;

    HostWatch();
    ~HostWatch();
    HostWatch(const HostWatch&) = delete;
    HostWatch& operator=(const HostWatch&) = delete;

    bool realTime() const;

    // How late, in ms, the machine alone was for a wake due at the time: the first tick due then
    // or after, on the processor that came latest.
    double lateMs(Clock::time_point due) const;
    // The worst of that for the ticks due between the two times.
    double worstLateMs(Clock::time_point from, Clock::time_point to) const;

private:
    static constexpr int Ticks = 120'000; // two minutes of 1 ms ticks, more than a run takes
    static constexpr std::chrono::microseconds Step{10};

    struct Processor {
        ~Processor();
        int cpu = 0;
        int timer = -1;
        std::unique_ptr<std::uint16_t[]> late; // per tick, in steps of Step, capped at 655 ms
        std::atomic<int> ticks{0};             // ticks written so far
        std::atomic<bool> realTime{false};
        std::thread thread;
    };
    void watch(Processor& processor);
    int tickAt(Clock::time_point t) const;
    double lateMs(int tick) const;

    const Clock::time_point start_;
    std::atomic<bool> stopping_{false};
    std::vector<std::unique_ptr<Processor>> processors_;
};

} // namespace qx200::bench
