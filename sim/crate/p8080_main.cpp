// koru-sim p8080: serves one simulated rack supply until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/p8080_sim.h"
#include "crate/server_mode.h"
#include "sim_modes.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: koru-sim p8080 --address 127.0.0.N [--port 9146] [--event-port 9147]\n"
                 "                      [--user U --password P] [--preset rack|small] [--tick MS]\n"
                 "                      [--keepalive MS] [--no-ramp] [--print-key]\n"
                 "  serves a P8080 rack supply on the given loopback address (127.0.0.2 and up);\n"
                 "  --print-key prints the PEM public key the library must encrypt the password with\n");
}

} // namespace

int runP8080Sim(int argc, char **argv)
{
    korusim::P8080SimOptions opt;
    opt.eventPort = korusim::kP8080EventPort;
    const korusim::ServerMode mode{"p8080",
                                   korusim::kP8080Port,
                                   {"rack", "small"},
                                   usage,
                                   {{"--event-port", true, 0, 65535,
                                     [&](long v) {
                                         opt.eventPort = uint16_t(v);
                                         return -1;
                                     }},
                                    {"--print-key", false, 0, 0, [](long) {
                                         std::fputs(korusim::P8080Sim::builtinPublicKeyPem().c_str(), stdout);
                                         return 0;
                                     }}}};
    korusim::ServerModeArgs args;
    if (const int code = korusim::parseServerMode(mode, argc, argv, args); code >= 0)
        return code;
    korusim::applyServerMode(args, opt);
    const sigset_t stopSignals = korusim::blockStopSignals();
    korusim::P8080Sim sim(args.preset == "small" ? korusim::P8080Model::smallRack()
                                                 : korusim::P8080Model::rack(),
                          args.address, uint16_t(args.port), opt);
    return korusim::serveUntilStopped(mode, sim, stopSignals, [&] {
        return "P8080 rack simulator listening on " + sim.address() + ":" + std::to_string(sim.port()) +
               " (events on port " + std::to_string(sim.eventPort()) + ")";
    });
}
