// Small condition-variable and mutex helpers that report failures as codes
// (never abort).
#pragma once

#include <pthread.h>
#include <time.h>

#include <cstdint>

namespace koruhv {

constexpr int kWaitTimedOut = -110;

int Sys_MutexLock(pthread_mutex_t *m);   // 0, or -1 for null or a failing lock
int Sys_MutexUnlock(pthread_mutex_t *m); // 0, or -1
// Absolute realtime-clock time ms milliseconds from now.
struct timespec Sys_DeadlineAfter(uint32_t ms);
// ms -1 waits without limit, 0 returns at once with a time-out; 0 when woken,
// -110 on time-out, -1 on any other failure.
int Sys_CondTimedWait(pthread_cond_t *c, pthread_mutex_t *m, int32_t ms);
int Sys_CondBroadcast(pthread_cond_t *c); // 0, or -22

} // namespace koruhv
