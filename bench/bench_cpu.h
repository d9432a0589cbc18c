// What the benchmarks share: settings from the environment, and pinning
// the process to one CPU (a wake-up across CPUs costs several times one on
// the same CPU, so unpinned figures measure the scheduler).
#pragma once

#include <sched.h>

#include <cstdlib>

namespace korubench {

inline int envInt(const char *name, int def)
{
    const char *v = std::getenv(name);
    return v && *v ? std::atoi(v) : def;
}

// Pins this thread, and every thread started after it, to one CPU:
// KORU_BENCH_CPU, or the first one allowed. The CPU, or -1.
inline int pinToOneCpu()
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        return -1;
    int cpu = envInt("KORU_BENCH_CPU", -1);
    for (int c = 0; cpu < 0 && c < CPU_SETSIZE; ++c)
        if (CPU_ISSET(c, &allowed))
            cpu = c;
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
}

} // namespace korubench
