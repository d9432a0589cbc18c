// koru-sim MODE [options]: runs one simulated device family on loopback.
#include <cstdio>
#include <cstring>

#include "sim_modes.h"

namespace {

struct Mode {
    const char *name;
    int (*run)(int, char **);
    const char *what;
};

const Mode kModes[] = {
    {"crate", runCrateSim, "HX4400/HX5500 crate mainframe (TCP 2200)"},
    {"hx1100", runHx1100Sim, "HX1100 first-generation crate (TCP 2200, UDP events)"},
    {"p8080", runP8080Sim, "P8080 rack supply (TCP 9146, event port 9147)"},
    {"l2290", runL2290Sim, "L2290 modules (TCP 2290 or a pseudo-terminal)"},
    {"w9300", runW9300Sim, "W9300 crate power supply (TCP 9300 or a pseudo-terminal)"},
    {"l317e", runL317ESim, "L317E amplifiers (TCP 317 or a pseudo-terminal)"},
    {"zjv", runZJVSim, "ZJV low-voltage supply (TCP 23 or a pseudo-terminal)"},
    {"bq71xxe", runBQ71XXESim, "BQ71XXE desktop HV supply (TCP 23 or a pseudo-terminal)"},
    {"l5026", runL5026Sim, "L5026 amplifiers (TCP 23 or a pseudo-terminal)"},
    {"l5126", runL5126Sim, "L5126 amplifiers (TCP 23 or a pseudo-terminal)"},
    {"trixhv", runTrixhvSim, "TRIXHV modules (TCP 2290 or a pseudo-terminal)"},
    {"zorn", runZornSim, "ZORN supply (TCP 10001)"},
    {"vme", runVmeSim, "network VME bridge (TCP 5860)"},
    {"discovery", runDiscoverySim, "discovery responder (UDP 113, devices on 127.0.0.2 and up)"},
};

void usage()
{
    std::fprintf(stderr, "usage: koru-sim MODE [options]   (koru-sim MODE --help)\nmodes:\n");
    for (const Mode &m : kModes)
        std::fprintf(stderr, "  %-8s %s\n", m.name, m.what);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        usage();
        return 2;
    }
    for (const Mode &m : kModes)
        if (std::strcmp(argv[1], m.name) == 0)
            return m.run(argc - 1, argv + 1);
    usage();
    return 2;
}
