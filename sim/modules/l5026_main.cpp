// koru-sim l5026: simulated L5026 amplifiers on a loopback TCP port (23 by
// default) or a pseudo-terminal (the USB virtual COM port), until SIGINT or
// SIGTERM.
#include "modules/l5026_sim.h"
#include "modules/text_sim_program.h"
#include "sim_modes.h"

int runL5026Sim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "l5026";
    program.defaultPort = 23;
    program.maxModules = 100; // addresses are two digits
    program.defaultChannels = 16;
    program.maxChannels = 16; // the module has 16 channels whatever --channels says
    program.make = [](int modules, int) {
        std::vector<korusim::AmpModule> mods;
        for (int m = 0; m < modules; ++m)
            mods.push_back(korusim::AmpModule::make(korusim::AmpFamily::L5026, m));
        return std::make_unique<korusim::AmpSim>(std::move(mods));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
