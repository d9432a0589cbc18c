// The command line shared by every text-module simulator mode:
//   koru-sim <mode> [--address A] [--port P] [--pty] [--modules N] [--channels C]
// prints one "READY port=P address=A" or "READY pty=pts/N" line and serves
// until SIGINT or SIGTERM. A family supplies its name, port and a factory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "modules/text_link_sim.h"

namespace korusim {

struct TextSimProgram {
    std::string mode;         // "l2290"
    uint16_t defaultPort = 0; // the family's fixed device port
    int maxModules = 100;
    int defaultChannels = 4;
    int maxChannels = 16;
    // Builds the simulator for `modules` modules (addresses 0..modules-1)
    // of `channels` channels each.
    std::function<std::unique_ptr<TextLinkSim>(int modules, int channels)> make;
};

int runTextSimProgram(const TextSimProgram &program, int argc, char **argv);

} // namespace korusim
