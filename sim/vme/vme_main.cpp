// koru-sim vme: serves one simulated network VME bridge until SIGINT or SIGTERM.
#include <cstdio>
#include <string>

#include "common/sim_process.h"
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
            if (!korusim::parseNumber(argv[++i], 0, 65535, port)) {
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
    const sigset_t stop = korusim::blockStopSignals();
    korusim::VmeBridgeSim sim;
    sim.model().setNewerMap(newer);
    if (!sim.start(address, static_cast<uint16_t>(port))) {
        std::fprintf(stderr, "koru-sim vme: cannot listen on %s:%ld\n", address.c_str(), port);
        return 1;
    }
    std::printf("koru-sim vme: listening on %s:%u\n", address.c_str(), sim.port());
    std::fflush(stdout);
    korusim::waitForStopSignal(stop);
    sim.stop();
    return 0;
}
