#include "timed_wait.h"

#include <cerrno>

namespace koruhv {

int Sys_MutexLock(pthread_mutex_t *m)
{
    if (!m || pthread_mutex_lock(m) != 0)
        return -1;
    return 0;
}

int Sys_MutexUnlock(pthread_mutex_t *m)
{
    if (!m || pthread_mutex_unlock(m) != 0)
        return -1;
    return 0;
}

struct timespec Sys_DeadlineAfter(uint32_t ms)
{
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct timespec t {};
    t.tv_sec = now.tv_sec + ms / 1000;
    long ns = now.tv_nsec + static_cast<long>(ms % 1000) * 1000000L;
    t.tv_sec += ns / 1000000000L;
    t.tv_nsec = ns % 1000000000L;
    return t;
}

int Sys_CondTimedWait(pthread_cond_t *c, pthread_mutex_t *m, int32_t ms)
{
    int rc;
    if (ms == -1) {
        rc = pthread_cond_wait(c, m);
    } else {
        // 0 (and any negative time other than -1) means the epoch: at once.
        struct timespec t {};
        if (ms > 0)
            t = Sys_DeadlineAfter(static_cast<uint32_t>(ms));
        rc = pthread_cond_timedwait(c, m, &t);
    }
    if (rc == 0)
        return 0;
    return rc == ETIMEDOUT ? kWaitTimedOut : -1;
}

int Sys_CondBroadcast(pthread_cond_t *c)
{
    return pthread_cond_broadcast(c) == 0 ? 0 : -22;
}

} // namespace koruhv
