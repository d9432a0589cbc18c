#include "modules/text_sim_program.h"

#include "common/sim_process.h"

#include <cstdio>

namespace korusim {

int runTextSimProgram(const TextSimProgram &p, int argc, char **argv)
{
    const char *mode = p.mode.c_str();
    auto usage = [&] {
        std::fprintf(
            stderr,
            "usage: koru-sim %s [--address 127.0.0.2] [--port %u] [--pty] [--modules N] [--channels C]\n"
            "  N modules at addresses 0..N-1 (1..%d, default 1), C channels each (1..%d, default %d).\n"
            "  Prints one line, \"READY port=P address=A\" or \"READY pty=pts/N\", then serves\n"
            "  until SIGINT or SIGTERM.\n",
            mode, unsigned(p.defaultPort), p.maxModules, p.maxChannels, p.defaultChannels);
    };
    std::string address = "127.0.0.2";
    long port = p.defaultPort, modules = 1, channels = p.defaultChannels;
    bool pty = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool more = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--pty") {
            pty = true;
        } else if (a == "--address" && more) {
            address = argv[++i];
        } else if (a == "--port" && more && parseNumber(argv[i + 1], 0, 65535, port)) {
            ++i;
        } else if (a == "--modules" && more && parseNumber(argv[i + 1], 1, p.maxModules, modules)) {
            ++i;
        } else if (a == "--channels" && more && parseNumber(argv[i + 1], 1, p.maxChannels, channels)) {
            ++i;
        } else {
            std::fprintf(stderr, "koru-sim %s: bad argument %s\n", mode, a.c_str());
            usage();
            return 2;
        }
    }

    // Block the stop signals before any thread starts, then wait for them.
    const sigset_t stopSignals = blockStopSignals();

    std::unique_ptr<TextLinkSim> sim = p.make(int(modules), int(channels));
    sim->setLogLimit(1000);
    bool ok = pty ? sim->startPty() : sim->startTcp(address, uint16_t(port));
    if (!ok) {
        std::fprintf(stderr, "koru-sim %s: %s\n", mode, sim->error().c_str());
        return 1;
    }
    if (pty)
        std::printf("READY pty=%s\n", sim->ptyName().c_str());
    else
        std::printf("READY port=%u address=%s\n", unsigned(sim->port()), sim->address().c_str());
    std::fflush(stdout);

    const int sig = waitForStopSignal(stopSignals);
    sim->stop();
    std::fprintf(stderr, "koru-sim %s: stopped by signal %d\n", mode, sig);
    return 0;
}

} // namespace korusim
