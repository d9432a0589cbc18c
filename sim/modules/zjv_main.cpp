// koru-sim zjv: a simulated ZJV low-voltage supply on a loopback TCP port (23
// by default) or a pseudo-terminal, until SIGINT or SIGTERM.
#include "modules/text_sim_program.h"
#include "modules/zjv_sim.h"
#include "sim_modes.h"

int runZJVSim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "zjv";
    program.defaultPort = 23;
    program.maxModules = 1;
    program.defaultChannels = 2;
    program.maxChannels = 2;
    program.make = [](int modules, int channels) {
        (void)modules; // one unit per link: the protocol has no address
        return std::make_unique<korusim::ZJVSim>(korusim::ZJVUnit::make(channels));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
