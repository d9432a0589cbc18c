#include "common/sim_process.h"

#include <cerrno>
#include <cstdlib>
#include <pthread.h>

namespace korusim {

bool parseNumber(const char *text, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || !end || *end || end == text || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

sigset_t blockStopSignals()
{
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    return stopSignals;
}

int waitForStopSignal(const sigset_t &stopSignals)
{
    int sig = 0;
    sigwait(&stopSignals, &sig);
    return sig;
}

} // namespace korusim
