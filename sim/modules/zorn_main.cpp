// koru-sim zorn: one simulated ZORN supply on a loopback TCP port (10001 by
// default), until SIGINT or SIGTERM. The unit has no serial link.
#include <cstdio>
#include <cstring>

#include "modules/text_sim_program.h"
#include "modules/zorn_sim.h"
#include "sim_modes.h"

int runZornSim(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--pty") == 0) {
            std::fprintf(stderr, "koru-sim zorn: the unit is reached over TCP only, no --pty\n");
            return 2;
        }
    korusim::TextSimProgram program;
    program.mode = "zorn";
    program.defaultPort = 10001;
    program.maxModules = 1;
    program.defaultChannels = 1;
    program.maxChannels = 1;
    program.make = [](int, int) { return std::make_unique<korusim::ZornSim>(); };
    return korusim::runTextSimProgram(program, argc, argv);
}
