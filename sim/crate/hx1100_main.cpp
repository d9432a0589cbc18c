// koru-sim hx1100: serves one simulated first-generation crate until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/hx1100_sim.h"
#include "crate/server_mode.h"
#include "sim_modes.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: koru-sim hx1100 --address 127.0.0.N [--port 2200] [--user U --password P]\n"
                 "                       [--preset full|small] [--tick MS] [--keepalive MS] [--no-ramp]\n"
                 "  serves an HX1100 crate mainframe on the given loopback address (127.0.0.2 and up);\n"
                 "  events go as UDP datagrams to the port each subscription names\n");
}

} // namespace

int runHx1100Sim(int argc, char **argv)
{
    const korusim::ServerMode mode{"hx1100", 2200, {"full", "small"}, usage, {}};
    korusim::ServerModeArgs args;
    if (const int code = korusim::parseServerMode(mode, argc, argv, args); code >= 0)
        return code;
    korusim::CrateSimOptions opt = korusim::hx1100Options();
    korusim::applyServerMode(args, opt);
    const sigset_t stopSignals = korusim::blockStopSignals();
    korusim::Hx1100Sim sim(args.preset == "small" ? korusim::Hx1100Model::smallCrate()
                                                  : korusim::Hx1100Model::fullCrate(),
                           args.address, uint16_t(args.port), opt);
    return korusim::serveUntilStopped(mode, sim, stopSignals, [&] {
        return "HX1100 crate simulator listening on " + sim.address() + ":" + std::to_string(sim.port());
    });
}
