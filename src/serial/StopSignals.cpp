#include "serial/StopSignals.h"

#include <csignal>
#include <initializer_list>
#include <sys/signalfd.h>

namespace qx200 {

int openStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stopSignals, signal);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0)
        return -1;
    return signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
}

} // namespace qx200
