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
    {"l2290", runL2290Sim, "L2290 modules (TCP 2290 or a pseudo-terminal)"},
};

void usage()
{
    std::fprintf(stderr, "usage: koru-sim MODE [options]   (koru-sim MODE --help)\nmodes:\n");
    for (const Mode &m : kModes)
        std::fprintf(stderr, "  %-8s %s\n", m.name, m.what);
}

}  // namespace

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
