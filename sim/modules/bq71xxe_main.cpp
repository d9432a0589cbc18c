// koru-sim bq71xxe: a simulated BQ71XXE unit on a loopback TCP port (23 by
// default) or a pseudo-terminal, until SIGINT or SIGTERM.
#include "modules/bq71xxe_sim.h"
#include "modules/text_sim_program.h"
#include "sim_modes.h"

int runBQ71XXESim(int argc, char **argv)
{
    korusim::TextSimProgram program;
    program.mode = "bq71xxe";
    program.defaultPort = 23;
    program.maxModules = 1;
    program.defaultChannels = 4;
    program.maxChannels = 8;
    program.make = [](int modules, int channels) {
        (void)modules; // one unit per link: the protocol has no address
        return std::make_unique<korusim::BQ71XXESim>(korusim::BQ71XXEUnit::make(channels));
    };
    return korusim::runTextSimProgram(program, argc, argv);
}
