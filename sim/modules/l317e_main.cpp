// koru-sim l317e: simulated L317E amplifiers on a loopback TCP port (317 by
// default) or a pseudo-terminal, until SIGINT or SIGTERM.
#include "modules/l317e_sim.h"
#include "modules/text_sim_program.h"
#include "sim_modes.h"

int runL317ESim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "l317e";
    program.defaultPort = 317;
    program.maxModules = 100;
    program.defaultChannels = 16;
    program.maxChannels = 16;
    program.make = [](int modules, int channels) {
        // The amplifier has 16 channels; fewer make short all-channel replies.
        std::vector<korusim::L317EModule> mods;
        for (int m = 0; m < modules; ++m)
            mods.push_back(korusim::L317EModule::make(m, "L317E", channels));
        return std::make_unique<korusim::L317ESim>(std::move(mods));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
