// koru-sim trixhv: simulated TRIXHV units on a loopback TCP port (2290 by
// default) or a pseudo-terminal (units at bus addresses 0..N-1), until
// SIGINT or SIGTERM.
#include "modules/text_sim_program.h"
#include "modules/trixhv_sim.h"
#include "sim_modes.h"

int runTrixhvSim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "trixhv";
    program.defaultPort = 2290;
    program.maxModules = 32;
    program.defaultChannels = 4;
    program.maxChannels = 32;
    program.make = [](int modules, int channels) {
        std::vector<korusim::TrixUnit> units;
        for (int m = 0; m < modules; ++m)
            units.push_back(korusim::TrixUnit::make(channels, m));
        return std::make_unique<korusim::TrixhvSim>(std::move(units));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
