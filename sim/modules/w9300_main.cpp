// koru-sim w9300: a simulated W9300 crate power supply on a loopback TCP port
// (9300 by default) or a pseudo-terminal, until SIGINT or SIGTERM.
#include "modules/text_sim_program.h"
#include "modules/w9300_sim.h"
#include "sim_modes.h"

int runW9300Sim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "w9300";
    program.defaultPort = 9300;
    program.maxModules = 1;
    program.defaultChannels = 6;
    program.maxChannels = 8;
    program.make = [](int modules, int channels) {
        (void)modules; // one crate per link
        return std::make_unique<korusim::W9300Sim>(korusim::W9300Crate::make(channels));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
