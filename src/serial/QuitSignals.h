#pragma once

#include <functional>

namespace qx200 {

// Turns SIGINT, SIGTERM and SIGHUP into an orderly quit on the event loop's thread, so that the
// devices are closed as by "END" (lock file gone, exclusive use and line settings given back)
// rather than left as a killed process leaves it. The console and the service share it.
class QuitSignals {
public:
    // Takes the signals over. Make it before the application object, which starts threads.
    QuitSignals();
    ~QuitSignals();
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    // From now on each signal runs `quit` on the event loop; one that came earlier runs as soon
    // as the loop runs. Needs the application object, and must outlive it. With `hangUp`, SIGHUP
    // runs that instead (a service re-reads its configuration).
    void listen(std::function<void()> quit, std::function<void()> hangUp = {});
    // Whether a signal has asked to quit.
    bool received() const { return received_; }

private:
    void takeSignal();

    int signals_ = -1;
    std::function<void()> quit_;
    std::function<void()> hangUp_;
    bool received_ = false;
};

} // namespace qx200
