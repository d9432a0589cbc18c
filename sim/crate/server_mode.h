// The command line and the life of the crate-like modes of koru-sim (crate,
// hx1100, p8080): the options they share, parsed once, and serving until
// SIGINT or SIGTERM.
#ifndef KORUSIM_SERVER_MODE_H
#define KORUSIM_SERVER_MODE_H

#include "common/sim_process.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace korusim {

struct ServerModeArgs {
    std::string address;
    long port = 0;
    std::string preset; // the first of the mode's presets unless given
    std::string user, password;
    bool userGiven = false, passwordGiven = false;
    std::chrono::milliseconds tick{500};
    std::chrono::milliseconds keepAlive{-1}; // below 0: the simulator's own
    bool ramp = true;
};

// An option of one mode only: with a number in [lo, hi] (take gets it), or
// a switch (hasValue false; take gets 0). A switch whose take returns 0 or
// more ends the program with that code (e.g. one that prints and exits).
struct ModeOption {
    const char *name;
    bool hasValue;
    long lo, hi;
    std::function<int(long)> take;
};

struct ServerMode {
    const char *name; // "crate", "hx1100", "p8080"
    long defaultPort;
    std::vector<std::string> presets;
    void (*usage)();
    std::vector<ModeOption> extra;
};

// Parses argv; returns -1 to go on serving, else the exit code (0 after
// --help, 2 on a bad or missing argument, with the usage on stderr).
int parseServerMode(const ServerMode &mode, int argc, char **argv, ServerModeArgs &out);

// Copies the shared options into a simulator's own options.
template <typename Options> void applyServerMode(const ServerModeArgs &args, Options &opt)
{
    if (args.userGiven)
        opt.user = args.user;
    if (args.passwordGiven)
        opt.password = args.password;
    opt.tickPeriod = args.tick;
    if (args.keepAlive.count() >= 0)
        opt.keepAlivePeriod = args.keepAlive;
    if (!args.ramp)
        opt.ramp = false;
}

void reportStartFailure(const ServerMode &mode, const std::string &error);
void printReadyLine(const std::string &line);

// Starts the simulator, prints the ready line, serves until a stop signal
// and stops it. Returns the program's exit code.
template <typename Sim>
int serveUntilStopped(const ServerMode &mode, Sim &sim, const sigset_t &stopSignals,
                      const std::function<std::string()> &readyLine)
{
    if (!sim.start()) {
        reportStartFailure(mode, sim.errorText());
        return 1;
    }
    printReadyLine(readyLine());
    waitForStopSignal(stopSignals);
    sim.stop();
    return 0;
}

} // namespace korusim

#endif
