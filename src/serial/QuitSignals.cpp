#include "serial/QuitSignals.h"
#include "serial/StopSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QtGlobal>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/signalfd.h>
#include <unistd.h>

namespace qx200 {

QuitSignals::QuitSignals() : signals_(openStopSignals())
{
    if (signals_ < 0)
        qWarning("signals cannot be taken over (%s); a signal ends the program without "
                 "closing its devices",
                 std::strerror(errno));
}

QuitSignals::~QuitSignals()
{
    if (signals_ >= 0)
        ::close(signals_);
}

void QuitSignals::listen(std::function<void()> quit, std::function<void()> hangUp)
{
    if (signals_ < 0)
        return;
    quit_ = std::move(quit);
    hangUp_ = std::move(hangUp);
    // A child of the application object, so it goes before the event loop's machinery does.
    auto* notifier = new QSocketNotifier(signals_, QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [this] { takeSignal(); });
}

void QuitSignals::takeSignal()
{
    signalfd_siginfo info{};
    bool quit = false;
    bool hungUp = false;
    while (::read(signals_, &info, sizeof info) == sizeof info) {
        if (info.ssi_signo == SIGHUP && hangUp_)
            hungUp = true;
        else
            quit = true;
    }
    if (hungUp)
        hangUp_();
    if (!quit)
        return;
    received_ = true;
    if (quit_)
        quit_();
}

} // namespace qx200
