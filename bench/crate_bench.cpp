// Crate family costs, each printed as a ratio against a baseline measured in
// the same run against the same in-process simulator:
//  1. KORUHV_GetChParam / KORUHV_SetChParam round trips vs the same request
//     bytes sent and answered over a raw socket (which neither looks for
//     waiting bytes nor checks the order of the replies); a get whose every
//     request carries the reply check shows what one check costs;
//  2. event records per second through KORUHV_GetEventData vs a raw read of
//     the same batch bytes;
//  3. opening a full 16-slot crate and reading every channel parameter once
//     vs replaying the same requests over a raw socket;
//  4. four threads on one handle vs one thread (the request lock), against
//     four threads on a raw connection behind a mutex vs one, and behind the
//     library's first-come-first-served ticket lock vs one.
//  4b. figure 4 again with the simulator on a CPU of its own and the
//     clients together on theirs, as with a real crate.
// The whole process (simulator and client) is pinned to one CPU: a wake-up
// across CPUs costs several times one on the same CPU, and unpinned figures
// measure the scheduler. Each figure is measured KORU_BENCH_RUNS times
// (default 5); the median ratio is printed with the spread (min..max).
// KORU_BENCH_TRIPS sets the requests of one round-trip measurement (3000).
// KORU_BENCH_CPU picks the CPU (default: the first one allowed).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KORUHVWrapper.h"
#include "bench_cpu.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "crate/hx4400_backend.h"
#include "ticket_lock.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a)
{
    return std::chrono::duration<double>(Clock::now() - a).count();
}

std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

bool sendAll(int fd, const std::string &s)
{
    size_t off = 0;
    while (off < s.size()) {
        ssize_t k = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (k <= 0)
            return false;
        off += size_t(k);
    }
    return true;
}

bool recvAll(int fd, char *p, size_t n)
{
    while (n) {
        ssize_t k = ::recv(fd, p, n, 0);
        if (k <= 0)
            return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

// A raw command connection with its own login.
struct RawLink {
    int fd = -1;
    std::string session;
    bool open(const std::string &ip, uint16_t port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return false;
        std::string reply;
        if (!exchange("LOGINSYSTEM:admin:admin", &reply))
            return false;
        size_t colon = reply.find(':', 15); // after the message
        if (colon == std::string::npos || reply.size() < colon + 5)
            return false;
        session = reply.substr(colon + 1, 4);
        return true;
    }
    bool exchange(const std::string &body, std::string *reply)
    {
        if (!sendAll(fd, be32(uint32_t(body.size())) + body))
            return false;
        char len[4];
        if (!recvAll(fd, len, 4))
            return false;
        uint32_t n = uint32_t(uint8_t(len[0])) << 24 | uint32_t(uint8_t(len[1])) << 16 |
                     uint32_t(uint8_t(len[2])) << 8 | uint8_t(len[3]);
        reply->resize(n);
        return recvAll(fd, reply->data(), n);
    }
    // The logged request of another connection, with this connection's session.
    std::string patch(const korusim::CrateRequest &r) const
    {
        std::string b = r.body;
        size_t k = r.keyword.size();
        if (b.size() >= k + 5)
            b.replace(k + 1, 4, session);
        return b;
    }
    ~RawLink()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

void report(const char *what, double lib, double base, const char *unit)
{
    std::printf("%-52s library %10.1f %s  raw %10.1f %s  ratio %.2f\n", what, lib, unit, base, unit,
                base > 0 ? lib / base : 0.0);
}

// Median and spread of the ratios of several runs.
void spread(const char *what, std::vector<double> ratios)
{
    if (ratios.empty())
        return;
    std::sort(ratios.begin(), ratios.end());
    std::printf("%-52s ratio median %.2f  (min %.2f  max %.2f, %zu runs)\n", what, ratios[ratios.size() / 2],
                ratios.front(), ratios.back(), ratios.size());
}

using korubench::envInt;

cpu_set_t startAllowed; // the CPUs allowed before the pinning
using korubench::pinToOneCpu;

// Pins the calling thread (and the threads it starts later) to cpu.
void pinTo(int cpu)
{
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    sched_setaffinity(0, sizeof one, &one);
}

// A CPU this process may use other than cpu, or -1: the first allowed one
// before the pinning (KORU_BENCH_DEVICE_CPU picks it).
int otherCpu(int cpu)
{
    if (const int want = envInt("KORU_BENCH_DEVICE_CPU", -1); want >= 0)
        return want == cpu ? -1 : want;
    for (int c = 0; c < CPU_SETSIZE; ++c)
        if (c != cpu && CPU_ISSET(c, &startAllowed))
            return c;
    return -1;
}

// Operations per second of `threads` threads each running op `each` times.
double throughput(int threads, int each, const std::function<void()> &op)
{
    std::vector<std::thread> ts;
    Clock::time_point t0 = Clock::now();
    for (int t = 0; t < threads; ++t)
        ts.emplace_back([&] {
            for (int i = 0; i < each; ++i)
                op();
        });
    for (auto &t : ts)
        t.join();
    return threads * each / seconds(t0);
}

int listenOn(const char *ip, uint16_t *port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, ip, &a.sin_addr);
    socklen_t l = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(fd, 4);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l);
    *port = ntohs(a.sin_port);
    return fd;
}

// Writes `batches` copies of batch from the crate's address to port.
std::thread writer(uint16_t port, const std::string &batch, int batches)
{
    return std::thread([=] {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in me{}, to{};
        me.sin_family = to.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.2", &me.sin_addr);
        inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
        to.sin_port = htons(port);
        ::bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0) {
            std::string chunk;
            for (int i = 0; i < 16; ++i)
                chunk += batch;
            for (int i = 0; i < batches; i += 16)
                if (!sendAll(fd, chunk))
                    break;
        }
        ::close(fd);
    });
}

} // namespace

int main()
{
    CPU_ZERO(&startAllowed);
    sched_getaffinity(0, sizeof startAllowed, &startAllowed);
    const int cpu = pinToOneCpu();
    const int kRuns = std::max(1, envInt("KORU_BENCH_RUNS", 5));
    std::printf("pinned to CPU %d, %d runs\n", cpu, kRuns);
    korusim::CrateSimOptions opt;
    opt.ramp = false;
    opt.keepAlivePeriod = std::chrono::milliseconds(0);
    opt.tickPeriod = std::chrono::milliseconds(1000);
    korusim::CrateSim sim(korusim::CrateModel::fullCrate(), "127.0.0.2", 0, opt);
    if (!sim.start()) {
        std::fprintf(stderr, "simulator: %s\n", sim.errorText().c_str());
        return 1;
    }
    koruhv::CrateTransport_SetPortForTest(sim.port());

    // ---- 3. open a full crate and read every channel parameter once (best of 5)
    int h = -1;
    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descs = nullptr;
    unsigned *serials = nullptr;
    unsigned char *mi = nullptr, *ma = nullptr;
    std::vector<uint16_t> chans(64);
    for (unsigned i = 0; i < chans.size(); ++i)
        chans[i] = uint16_t(i);
    std::vector<uint32_t> values(64);
    size_t reads = 0;
    double openLib = 1e9, openRaw = 1e9;
    std::vector<double> openRatios;
    std::vector<korusim::CrateRequest> log;
    RawLink raw;
    if (!raw.open("127.0.0.2", sim.port())) {
        std::fprintf(stderr, "raw login failed\n");
        return 1;
    }
    std::string reply;
    for (int round = 0; round < kRuns; ++round) {
        if (h >= 0) {
            for (void *p :
                 {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
                KORUHV_Free(p);
            KORUHV_DeinitSystem(h);
        }
        sim.clearRequests();
        reads = 0;
        Clock::time_point t0 = Clock::now();
        if (KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.2"), "admin", "admin", &h) != 0) {
            std::fprintf(stderr, "open failed\n");
            return 1;
        }
        KORUHV_GetCrateMap(h, &slots, &counts, &models, &descs, &serials, &mi, &ma);
        for (unsigned short s = 0; s < slots; ++s) {
            if (!counts[s])
                continue;
            char *names = nullptr;
            int n = 0;
            if (KORUHV_GetChParamInfo(h, s, 0, &names, &n) != 0)
                continue;
            for (int p = 0; p < n; ++p) {
                char name[11] = {};
                std::memcpy(name, names + 10 * p, 10);
                KORUHV_GetChParam(h, s, name, counts[s], chans.data(), values.data());
                ++reads;
            }
            KORUHV_Free(names);
        }
        const double lib = seconds(t0);
        openLib = std::min(openLib, lib);
        log = sim.requests();
        t0 = Clock::now();
        for (const korusim::CrateRequest &r : log)
            if (r.keyword != "LOGINSYSTEM")
                raw.exchange(raw.patch(r), &reply);
        const double rawT = seconds(t0);
        openRaw = std::min(openRaw, rawT);
        openRatios.push_back(lib / rawT);
    }
    std::printf("open + %zu parameter reads of %u slots: %zu requests\n", reads, slots, log.size());
    report("3. open full crate and read all channel params", openLib * 1e3, openRaw * 1e3, "ms");
    spread("3. open: library time / raw time", openRatios);

    // ---- 1. round trips (each run: KORU_BENCH_TRIPS of each, interleaved; the same value
    // is written every time so the crate does the same work for both sides)
    // Long enough that one scheduler hiccup does not move a run's ratio.
    const int kTrips = std::max(1, envInt("KORU_BENCH_TRIPS", 3000));
    const uint16_t four[] = {0, 1, 2, 3};
    float v[4];
    float set = 100.0f;
    sim.clearRequests();
    KORUHV_GetChParam(h, 0, "V0Set", 4, four, v);
    KORUHV_SetChParam(h, 0, "V0Set", 4, four, &set);
    korusim::CrateRequest getReq = sim.requests().at(0), setReq = sim.requests().at(1);
    std::vector<double> getRatios, setRatios;
    for (int run = 0; run < kRuns; ++run) {
        Clock::time_point t0 = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            KORUHV_GetChParam(h, 0, "V0Set", 4, four, v);
        const double getLib = seconds(t0) / kTrips;
        t0 = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            raw.exchange(raw.patch(getReq), &reply);
        const double getRaw = seconds(t0) / kTrips;
        t0 = Clock::now();
        for (int i = 0; i < kTrips; ++i) {
            set = 100.0f;
            KORUHV_SetChParam(h, 0, "V0Set", 4, four, &set);
        }
        const double setLib = seconds(t0) / kTrips;
        t0 = Clock::now();
        for (int i = 0; i < kTrips; ++i)
            raw.exchange(raw.patch(setReq), &reply);
        const double setRaw = seconds(t0) / kTrips;
        getRatios.push_back(getLib / getRaw);
        setRatios.push_back(setLib / setRaw);
        if (run == 0) {
            report("1. KORUHV_GetChParam round trip (4 channels)", getLib * 1e6, getRaw * 1e6, "us");
            report("1. KORUHV_SetChParam round trip (4 channels)", setLib * 1e6, setRaw * 1e6, "us");
        }
    }
    spread("1. get: library time / raw time (aim <= 1.03)", getRatios);
    spread("1. set: library time / raw time (aim <= 1.03)", setRatios);
    {
        // The same get with the reply check behind every request; the
        // library checks one request in kReplyCheckEvery, in
        // kReplyCheckLatest when requests come as fast as here.
        koruhv::CrateContext *ctx = nullptr;
        for (int i = 0; i < koruhv::kCrateContexts && !ctx; ++i)
            if (koruhv::HX4400_Contexts()[i].inUse)
                ctx = &koruhv::HX4400_Contexts()[i];
        std::vector<double> checkedRatios;
        for (int run = 0; ctx && run < kRuns; ++run) {
            Clock::time_point t0 = Clock::now();
            for (int i = 0; i < kTrips; ++i) {
                ctx->carry.check.suspect = koruhv::kReplyCheckSuspect;
                KORUHV_GetChParam(h, 0, "V0Set", 4, four, v);
            }
            const double lib = seconds(t0) / kTrips;
            t0 = Clock::now();
            for (int i = 0; i < kTrips; ++i)
                raw.exchange(raw.patch(getReq), &reply);
            checkedRatios.push_back(lib / (seconds(t0) / kTrips));
        }
        std::printf("reply check on 1 request in %u (in %u when %u take under %d ms)\n",
                    koruhv::kReplyCheckEvery, koruhv::kReplyCheckLatest, koruhv::kReplyCheckEvery,
                    koruhv::kReplyCheckSpacingMs);
        spread("1. get, every request checked / raw time", checkedRatios);
    }

    // ---- 4. the request lock: four threads on one handle against one
    // thread, and the same for a raw connection behind a mutex
    {
        const int kEach = std::max(1, kTrips / 4);
        std::mutex rawLock;
        koruhv::TicketLock fifo{};
        auto libOp = [&] {
            float x[4];
            KORUHV_GetChParam(h, 0, "V0Set", 4, four, x);
        };
        auto rawOp = [&] {
            std::string r;
            std::lock_guard<std::mutex> g(rawLock);
            raw.exchange(raw.patch(getReq), &r);
        };
        // First come, first served, as the request lock must be: every
        // request hands the connection to another thread.
        auto fifoOp = [&] {
            std::string r;
            koruhv::TicketLock_Acquire(&fifo);
            raw.exchange(raw.patch(getReq), &r);
            koruhv::TicketLock_Release(&fifo);
        };
        std::vector<double> libRatios, rawRatios, fifoRatios;
        for (int run = 0; run < kRuns; ++run) {
            const double lib1 = throughput(1, 4 * kEach, libOp), lib4 = throughput(4, kEach, libOp);
            const double raw1 = throughput(1, 4 * kEach, rawOp), raw4 = throughput(4, kEach, rawOp);
            const double fifo1 = throughput(1, 4 * kEach, fifoOp), fifo4 = throughput(4, kEach, fifoOp);
            libRatios.push_back(lib4 / lib1);
            rawRatios.push_back(raw4 / raw1);
            fifoRatios.push_back(fifo4 / fifo1);
            if (run == 0) {
                report("4. one handle: 4 threads vs 1 thread (req/s)", lib4, lib1, "/s");
                report("4. raw + mutex: 4 threads vs 1 thread (req/s)", raw4, raw1, "/s");
                report("4. raw + ticket lock: 4 threads vs 1 thread (req/s)", fifo4, fifo1, "/s");
            }
        }
        spread("4. library: 4-thread / 1-thread (aim >= 0.90)", libRatios);
        spread("4. raw connection + mutex: 4-thread / 1-thread", rawRatios);
        spread("4. raw connection + ticket lock: 4-thread / 1-thread", fifoRatios);
    }

    // ---- 4b. the same with the device on a CPU of its own, as a real crate
    // is: on one CPU every hand-over of the request lock costs the clients a
    // switch that the device's own work competes with; here the clients
    // still share one CPU, and the device answers from another.
    if (const int deviceCpu = otherCpu(cpu); deviceCpu >= 0) {
        pinTo(deviceCpu);
        korusim::CrateSim apart(korusim::CrateModel::fullCrate(), "127.0.0.3", sim.port(), opt);
        const bool started = apart.start();
        pinTo(cpu);
        int h2 = -1;
        RawLink raw2;
        if (started && KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.3"), "admin", "admin", &h2) == 0 &&
            raw2.open("127.0.0.3", sim.port())) {
            const int kEach = std::max(1, kTrips / 4);
            koruhv::TicketLock fifo{};
            auto libOp = [&] {
                float x[4];
                KORUHV_GetChParam(h2, 0, "V0Set", 4, four, x);
            };
            auto fifoOp = [&] {
                std::string r;
                koruhv::TicketLock_Acquire(&fifo);
                raw2.exchange(raw2.patch(getReq), &r);
                koruhv::TicketLock_Release(&fifo);
            };
            auto rawOp = [&] {
                std::string r;
                raw2.exchange(raw2.patch(getReq), &r);
            };
            std::vector<double> libRatios, fifoRatios, tripRatios;
            for (int run = 0; run < kRuns; ++run) {
                const double lib1 = throughput(1, 4 * kEach, libOp), lib4 = throughput(4, kEach, libOp);
                const double fifo1 = throughput(1, 4 * kEach, fifoOp), fifo4 = throughput(4, kEach, fifoOp);
                const double raw1 = throughput(1, 4 * kEach, rawOp);
                libRatios.push_back(lib4 / lib1);
                fifoRatios.push_back(fifo4 / fifo1);
                tripRatios.push_back(raw1 / lib1);
                if (run == 0)
                    report("4b. device apart: 4 threads vs 1 thread (req/s)", lib4, lib1, "/s");
            }
            std::printf("device on CPU %d, clients on CPU %d\n", deviceCpu, cpu);
            spread("4b. device apart: get library time / raw time", tripRatios);
            spread("4b. device apart: library 4-thread / 1-thread", libRatios);
            spread("4b. device apart: raw + ticket lock 4-thread / 1", fifoRatios);
            KORUHV_DeinitSystem(h2);
        } else {
            std::printf("4b. device apart: simulator on 127.0.0.3 not reached, left out\n");
        }
    }

    // ---- 2. event records per second at 1000, 100 and 10 items a batch
    // (distinct subscribed channel values, as a ramping crate sends them),
    // against a raw read of the same bytes that then writes the same
    // 1060-byte records one after the other (what any reader must at least
    // do). Each run reads about 400000 records each way.
    uint16_t subPort = 0, benchPort = 0;
    int subFd = listenOn("127.0.0.1", &subPort);
    int benchFd = listenOn("127.0.0.1", &benchPort);
    char res[64];
    std::string list;
    const char *params[] = {"VMon", "IMon", "Status", "V0Set"};
    for (const char *p : params)
        list += std::string(list.empty() ? "" : ":") + p;
    const unsigned kMostItems = 1000;
    unsigned subscribed = 0;
    for (unsigned short s = 0; s < slots && subscribed < kMostItems; ++s)
        for (unsigned short c = 0; c < counts[s] && subscribed < kMostItems; ++c) {
            char *names = nullptr;
            int n = 0;
            if (KORUHV_GetChParamInfo(h, s, c, &names, &n) == 0) // the store learns the channel's slots
                KORUHV_Free(names);
            if (KORUHV_SubscribeChannelParams(h, short(subPort), s, c, list.c_str(), 4, res) == 0)
                subscribed += 4;
        }
    const std::vector<korusim::CrateSubscription> subs = sim.subscriptions();
    for (const unsigned kItems : {1000u, 100u, 10u}) {
        std::string items;
        unsigned itemCount = 0;
        for (const korusim::CrateSubscription &s : subs) {
            if (itemCount == kItems)
                break;
            items += be32(s.id) + std::string("\0\0\0\4", 4) + be32(0x1234);
            ++itemCount;
        }
        if (itemCount == 0)
            break;
        std::string batch = "KORUHV" + std::string(14, '\0') + be32(itemCount) + std::string(17, '\1') +
                            be32(uint32_t(45 + items.size())) + items;
        const int kBatches = int(400000 / itemCount) / 16 * 16; // the writer sends 16 at a time
        std::vector<double> evRatios;
        double evLibShown = 0, evRawShown = 0;
        for (int run = 0; run < kRuns; ++run) {
            std::thread w = writer(benchPort, batch, kBatches);
            int ev = ::accept(benchFd, nullptr, nullptr);
            long records = 0;
            Clock::time_point t0 = Clock::now();
            for (int i = 0; i < kBatches; ++i) {
                KORUHV_SYSTEMSTATUS_t st{};
                EventRecord *recs = nullptr;
                int n = 0;
                if (KORUHV_GetEventData(ev, &st, &recs, &n) != 0)
                    break;
                records += n;
                KORUHV_FreeEventData(&recs);
            }
            const double evLib = records / seconds(t0);
            w.join();
            ::close(ev);
            w = writer(benchPort, batch, kBatches);
            ev = ::accept(benchFd, nullptr, nullptr);
            std::vector<char> buf(batch.size());
            long rawRecords = 0;
            t0 = Clock::now();
            for (int i = 0; i < kBatches; ++i) {
                if (!recvAll(ev, buf.data(), 45) || !recvAll(ev, buf.data() + 45, batch.size() - 45))
                    break;
                auto *recs = static_cast<EventRecord *>(std::calloc(itemCount, sizeof(EventRecord)));
                const char *p = buf.data() + 45;
                for (unsigned k = 0; k < itemCount; ++k, p += 12) {
                    EventRecord &r = recs[k];
                    r.type = 1;
                    r.system = 0;
                    r.board = int(uint8_t(p[0]));
                    r.channel = int(uint8_t(p[2]));
                    std::memcpy(r.name, "VMon", 5);
                    std::memcpy(&r.value, p + 8, 4);
                }
                std::free(recs);
                rawRecords += itemCount;
            }
            const double evRaw = rawRecords / seconds(t0);
            w.join();
            ::close(ev);
            evRatios.push_back(evLib / evRaw);
            if (run == 0) {
                evLibShown = evLib;
                evRawShown = evRaw;
            }
        }
        char what[96];
        std::printf("event batches of %u items (%u subscribed), %d batches a run\n", itemCount, subscribed,
                    kBatches);
        std::snprintf(what, sizeof what, "2. %u items: event records per second (k)", itemCount);
        report(what, evLibShown / 1e3, evRawShown / 1e3, "k/s");
        std::snprintf(what, sizeof what, "2. %u items: library rate / raw rate%s", itemCount,
                      itemCount == 1000 ? " (aim >= 0.85)" : "");
        spread(what, evRatios);
    }
    ::close(subFd);
    ::close(benchFd);

    for (void *p : {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
        KORUHV_Free(p);
    KORUHV_DeinitSystem(h);
    sim.stop();
    return 0;
}
