// koru-demo PATH-OF-KORU-SIM: starts a simulated HX4400 crate on 127.0.0.2
// (port 2200), opens it through the public API, shows the crate map and a
// few channel values, switches a channel on at a new set value, prints live
// VMon events from a small event server on 127.0.0.1, then closes the crate
// and stops the simulator. Every wait is bounded; exit 0 on success.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "KORUHVWrapper.h"

namespace {

using Clock = std::chrono::steady_clock;

pid_t gChild = -1;

void stopChild()
{
    if (gChild <= 0)
        return;
    ::kill(gChild, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(gChild, nullptr, WNOHANG) == gChild) {
            gChild = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(gChild, SIGKILL);
    ::waitpid(gChild, nullptr, 0);
    gChild = -1;
}

int fail(const char *what, int code = 0)
{
    std::fprintf(stderr, "koru-demo: %s%s%d\n", what, code ? ": code " : "", code);
    stopChild();
    return 1;
}

// Starts the simulator and waits (10 s at most) for its ready line.
bool startSimulator(const char *simPath)
{
    int out[2];
    if (::pipe(out) != 0)
        return false;
    gChild = ::fork();
    if (gChild < 0)
        return false;
    if (gChild == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execl(simPath, simPath, "crate", "--address", "127.0.0.2", "--preset", "full",
                static_cast<char *>(nullptr));
        std::perror("exec koru-sim");
        ::_exit(127);
    }
    ::close(out[1]);
    std::string line;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        pollfd p{out[0], POLLIN, 0};
        int left =
            int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (::poll(&p, 1, left > 0 ? left : 0) != 1)
            break;
        char c;
        if (::read(out[0], &c, 1) != 1)
            break;
        if (c == '\n') {
            std::printf("simulator: %s\n", line.c_str());
            bool ready = line.find("listening") != std::string::npos;
            if (ready) {
                ::close(out[0]);
                return true;
            }
            line.clear();
        } else {
            line += c;
        }
    }
    ::close(out[0]);
    return false;
}

int listenEvents(uint16_t *port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t l = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &l) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: koru-demo PATH-OF-KORU-SIM\n");
        return 2;
    }
    if (!startSimulator(argv[1]))
        return fail("the crate simulator did not start (is 127.0.0.2:2200 free?)");

    int h = -1;
    int rc = KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.2"), "admin", "admin", &h);
    if (rc != 0)
        return fail("KORUHV_InitSystem", rc);
    std::printf("connected: handle %d, library %s\n", h, KORUHVLibSwRel());

    char model[2048] = {};
    if (KORUHV_GetSysProp(h, "ModelName", model) == 0)
        std::printf("model: %s\n", model);

    unsigned short slots = 0, *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *fwMinor = nullptr, *fwMajor = nullptr;
    rc = KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &fwMinor, &fwMajor);
    if (rc != 0)
        return fail("KORUHV_GetCrateMap", rc);
    std::printf("crate map, %u slots:\n", slots);
    const char *m = models, *d = descriptions;
    for (unsigned s = 0; s < slots; ++s) {
        if (*m)
            std::printf("  slot %2u  %-8s %-28s %3u ch  serial %u  fw %u.%02u\n", s, m, d, channels[s],
                        serials[s], fwMajor[s], fwMinor[s]);
        else
            std::printf("  slot %2u  (empty)\n", s);
        m += std::strlen(m) + 1;
        d += std::strlen(d) + 1;
    }
    for (void *p : {(void *)channels, (void *)models, (void *)descriptions, (void *)serials, (void *)fwMinor,
                    (void *)fwMajor})
        KORUHV_Free(p);

    const unsigned short chans[] = {0, 1, 2, 3};
    float v0[4] = {}, vmon[4] = {};
    unsigned pw[4] = {};
    if ((rc = KORUHV_GetChParam(h, 0, "V0Set", 4, chans, v0)) != 0 ||
        (rc = KORUHV_GetChParam(h, 0, "VMon", 4, chans, vmon)) != 0 ||
        (rc = KORUHV_GetChParam(h, 0, "Pw", 4, chans, pw)) != 0)
        return fail("KORUHV_GetChParam", rc);
    for (int i = 0; i < 4; ++i)
        std::printf("  slot 0 ch %d: V0Set %.1f V  VMon %.1f V  Pw %s\n", i, v0[i], vmon[i],
                    pw[i] ? "on" : "off");

    float set = 1500.0f;
    unsigned on = 1;
    if ((rc = KORUHV_SetChParam(h, 0, "V0Set", 1, chans, &set)) != 0 ||
        (rc = KORUHV_SetChParam(h, 0, "Pw", 1, chans, &on)) != 0)
        return fail("KORUHV_SetChParam", rc);
    std::printf("slot 0 ch 0: V0Set %.1f V sent, Pw on\n", set);

    uint16_t port = 0;
    int lfd = listenEvents(&port);
    if (lfd < 0)
        return fail("cannot open the event server on 127.0.0.1");
    char *names = nullptr;
    int count = 0;
    if ((rc = KORUHV_GetChParamInfo(h, 0, 0, &names, &count)) != 0)
        return fail("KORUHV_GetChParamInfo", rc);
    KORUHV_Free(names);
    char result = 1;
    if ((rc = KORUHV_SubscribeChannelParams(h, short(port), 0, 0, "VMon", 1, &result)) != 0 || result != 0)
        return fail("KORUHV_SubscribeChannelParams", rc ? rc : result);
    pollfd p{lfd, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1)
        return fail("the crate did not connect to the event server");
    int ev = ::accept(lfd, nullptr, nullptr);
    int shown = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
    while (shown < 6 && Clock::now() < deadline) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *recs = nullptr;
        int n = 0;
        rc = KORUHV_GetEventData(ev, &st, &recs, &n);
        if (rc != 0) {
            ::close(ev);
            ::close(lfd);
            return fail("KORUHV_GetEventData", rc);
        }
        for (int i = 0; i < n; ++i)
            if (recs[i].type == 0 && std::strcmp(recs[i].name, "VMon") == 0) {
                std::printf("  event: slot %d ch %d VMon %.1f V\n", recs[i].board, recs[i].channel,
                            recs[i].value.FloatValue);
                ++shown;
            }
        KORUHV_FreeEventData(&recs);
    }
    KORUHV_UnSubscribeChannelParams(h, short(port), 0, 0, "VMon", 1, &result);
    rc = KORUHV_DeinitSystem(h);
    ::close(ev);
    ::close(lfd);
    stopChild();
    if (rc != 0) {
        std::fprintf(stderr, "koru-demo: KORUHV_DeinitSystem: code %d\n", rc);
        return 1;
    }
    if (shown == 0) {
        std::fprintf(stderr, "koru-demo: no live event arrived\n");
        return 1;
    }
    std::printf("closed; simulator stopped\n");
    return 0;
}
