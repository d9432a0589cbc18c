// koru-sim vme: serves one simulated network VME bridge until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <string>

#include "sim_modes.h"
#include "vme/vme_sim.h"

int runVmeSim(int argc, char **argv)
{
    std::string address = "127.0.0.2";
    long port = 5860;
    bool newer = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--address" && i + 1 < argc) {
            address = argv[++i];
        } else if (a == "--port" && i + 1 < argc) {
            char *end = nullptr;
            port = std::strtol(argv[++i], &end, 10);
            if (!end || *end || port < 0 || port > 65535) {
                std::fprintf(stderr, "koru-sim vme: bad port\n");
                return 2;
            }
        } else if (a == "--newer") {
            newer = true;
        } else {
            std::fprintf(stderr, "usage: koru-sim vme [--address 127.0.0.2] [--port 5860] [--newer]\n"
                                 "  serves a network VME bridge (newer register map with --newer)\n");
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    korusim::VmeBridgeSim sim;
    sim.model().setNewerMap(newer);
    if (!sim.start(address, static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "koru-sim vme: cannot listen on %s:%ld\n", address.c_str(), port);
        return 1;
    }
    std::printf("koru-sim vme: listening on %s:%u\n", address.c_str(), sim.port());
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stop, &sig);
    sim.stop();
    return 0;
}
