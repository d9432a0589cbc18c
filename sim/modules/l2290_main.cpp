// koru-sim l2290: simulated L2290 modules on a loopback TCP port (2290 by
// default) or a pseudo-terminal, until SIGINT or SIGTERM.
#include "modules/l2290_sim.h"
#include "modules/text_sim_program.h"
#include "sim_modes.h"

int runL2290Sim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "l2290";
    program.defaultPort = 2290;
    program.maxModules = 100; // addresses are two digits
    program.make = [](int modules, int channels) {
        std::vector<korusim::L2290Module> mods;
        for (int m = 0; m < modules; ++m)
            mods.push_back(korusim::L2290Module::make(m, channels));
        return std::make_unique<korusim::L2290Sim>(std::move(mods));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
