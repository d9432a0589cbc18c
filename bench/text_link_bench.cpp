// Text-link costs, each printed as a ratio against a raw round trip measured
// in the same run against the same in-process L2290 simulator (one monitor
// request written and its reply line read with the link layer's calls):
//  1. the check a text link makes around every request (a zero-wait look
//     for bytes before it, the reply's time against the link's usual one
//     after it), done here around the raw round trip as the link does it;
//  2. a whole KORUHV_GetChParam of the same parameter, which includes it.
// The whole process (simulator and client) is pinned to one CPU: a wake-up
// across CPUs costs several times one on the same CPU, and unpinned figures
// measure the scheduler. Each figure is measured KORU_BENCH_RUNS times
// (default 5); the median ratio is printed with the spread (min..max).
// KORU_BENCH_CPU picks the CPU (default: the first one allowed).
#include <poll.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "KORUHVWrapper.h"
#include "bench_cpu.h"
#include "link.h"
#include "modules/l2290_backend.h"
#include "modules/l2290_sim.h"
#include "modules/text_engine.h"

namespace {

using Clock = std::chrono::steady_clock;

using korubench::envInt;
using korubench::pinToOneCpu;

// Seconds per call of op, over n calls.
double perCall(int n, const std::function<bool()> &op)
{
    const Clock::time_point t0 = Clock::now();
    for (int i = 0; i < n; ++i)
        if (!op())
            return -1;
    return std::chrono::duration<double>(Clock::now() - t0).count() / n;
}

void spread(const char *what, std::vector<double> ratios, double baseUs)
{
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-44s ratio median %.3f  (min %.3f  max %.3f, %zu runs; raw round trip %.1f us)\n", what,
                ratios[ratios.size() / 2], ratios.front(), ratios.back(), ratios.size(), baseUs);
}

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

int main()
{
    const int cpu = pinToOneCpu();
    const int kRuns = std::max(1, envInt("KORU_BENCH_RUNS", 5));
    const int kCalls = std::max(1, envInt("KORU_BENCH_CALLS", 2000));
    std::printf("pinned to CPU %d, %d runs of %d calls\n", cpu, kRuns, kCalls);

    korusim::L2290Sim sim;
    sim.setLogLimit(0);
    if (!sim.startTcp("127.0.0.2", 0)) {
        std::fprintf(stderr, "simulator: %s\n", sim.error().c_str());
        return 1;
    }
    koruhv::TextTiming timing;
    timing.rowPauseMs = 0;
    timing.tcpSettleMs = 0;
    koruhv::Text_SetTimingForTests(timing);
    koruhv::L2290_SetTcpPortForTests(sim.port());
    char address[] = "127.0.0.2";
    int h = -1;
    if (KORUHV_InitSystem(6, 0, address, "", "", &h) != 0) {
        std::fprintf(stderr, "open failed\n");
        return 1;
    }
    int raw = -1;
    if (koruhv::Tcp_Connect("127.0.0.2", &raw, sim.port()) != 0) {
        std::fprintf(stderr, "raw connect failed\n");
        return 1;
    }
    const char *request = "$BD:00,CMD:MON,CH:0,PAR:VSET\r\n";
    auto roundTrip = [&] {
        char buf[1024];
        return koruhv::Tcp_SendString(raw, request) == 0 && koruhv::Tcp_ReadReply(raw, buf, sizeof buf) == 0;
    };
    int64_t usual[8] = {};
    int samples = 0;
    volatile int64_t sink = 0;
    auto checkedRoundTrip = [&] {
        pollfd p{raw, POLLIN, 0};
        if (::poll(&p, 1, 0) != 0)
            return false; // nothing may wait before a request
        const int64_t sent = nowUs();
        if (!roundTrip())
            return false;
        usual[samples++ % 8] = nowUs() - sent;
        int64_t v[8];
        std::copy(usual, usual + 8, v);
        std::nth_element(v, v + 4, v + 8);
        sink = v[4];
        return true;
    };
    auto libraryRead = [&] {
        unsigned short ch = 0;
        float v = 0;
        return KORUHV_GetChParam(h, 0, "VSet", 1, &ch, &v) == 0;
    };

    std::vector<double> check, read;
    double base = 0;
    for (int run = 0; run < kRuns; ++run) {
        base = perCall(kCalls, roundTrip);
        const double checked = perCall(kCalls, checkedRoundTrip);
        const double lib = perCall(kCalls, libraryRead);
        if (base <= 0 || checked <= 0 || lib <= 0) {
            std::fprintf(stderr, "a round trip failed\n");
            return 1;
        }
        check.push_back(checked / base);
        read.push_back(lib / base);
    }
    spread("1. round trip with the link's check", check, base * 1e6);
    spread("2. KORUHV_GetChParam (check included)", read, base * 1e6);
    koruhv::Tcp_Close(raw);
    KORUHV_DeinitSystem(h);
    sim.stop();
    return 0;
}
