// koru-sim crate: serves one simulated crate until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/crate_sim.h"
#include "crate/server_mode.h"
#include "sim_modes.h"

namespace {

void usage()
{
    std::fprintf(stderr,
                 "usage: koru-sim crate --address 127.0.0.N [--port 2200] [--user U --password P]\n"
                 "                      [--preset full|small] [--tick MS] [--keepalive MS] [--no-ramp]\n"
                 "                      [--switch-on N [--volts V]]\n"
                 "  serves an HX4400 crate mainframe on the given loopback address (127.0.0.2 and up)\n"
                 "  --switch-on N: the first N channels of every board start switched on with V0Set V volts\n"
                 "                 (default 500), so their VMon ramps up at RUp volts per second\n");
}

// Switches on the first n channels of every board at the given set voltage,
// so that the ramp moves their VMon from the start.
void switchOnChannels(korusim::CrateModel &model, unsigned n, double volts)
{
    for (auto &slot : model.slots) {
        if (!slot)
            continue;
        korusim::CrateBoard &b = *slot;
        for (unsigned c = 0; c < n && c < b.channels; ++c) {
            std::vector<korusim::CrateParam> params = b.paramsOf(c);
            for (auto &p : params) {
                if (p.name == "Pw")
                    p.initialRaw = 1;
                if (p.name == "V0Set")
                    p.initialRaw = korusim::valueToRaw(p, volts);
            }
            b.channelParamsOverride[c] = params;
        }
    }
}

} // namespace

int runCrateSim(int argc, char **argv)
{
    unsigned switchOn = 0;
    double volts = 500.0;
    const korusim::ServerMode mode{"crate",
                                   2200,
                                   {"full", "small"},
                                   usage,
                                   {{"--switch-on", true, 0, 1000,
                                     [&](long v) {
                                         switchOn = unsigned(v);
                                         return -1;
                                     }},
                                    {"--volts", true, 0, 3000, [&](long v) {
                                         volts = double(v);
                                         return -1;
                                     }}}};
    korusim::ServerModeArgs args;
    if (const int code = korusim::parseServerMode(mode, argc, argv, args); code >= 0)
        return code;
    korusim::CrateSimOptions opt;
    korusim::applyServerMode(args, opt);
    const sigset_t stopSignals = korusim::blockStopSignals();
    korusim::CrateModel model =
        args.preset == "small" ? korusim::CrateModel::smallCrate() : korusim::CrateModel::fullCrate();
    if (switchOn > 0)
        switchOnChannels(model, switchOn, volts);
    korusim::CrateSim sim(model, args.address, uint16_t(args.port), opt);
    return korusim::serveUntilStopped(mode, sim, stopSignals, [&] {
        return "crate simulator listening on " + sim.address() + ":" + std::to_string(sim.port());
    });
}
