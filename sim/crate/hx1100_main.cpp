// koru-sim hx1100: serves one simulated first-generation crate until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/hx1100_sim.h"
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

bool number(const char *text, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || !end || *end || end == text || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

} // namespace

int runHx1100Sim(int argc, char **argv)
{
    std::string address;
    long port = 2200;
    std::string preset = "full";
    korusim::CrateSimOptions opt = korusim::hx1100Options();
    opt.tickPeriod = std::chrono::milliseconds(500);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        long v = 0;
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--address" && hasValue) {
            address = argv[++i];
        } else if (a == "--port" && hasValue && number(argv[i + 1], 0, 65535, v)) {
            port = v;
            ++i;
        } else if (a == "--user" && hasValue) {
            opt.user = argv[++i];
        } else if (a == "--password" && hasValue) {
            opt.password = argv[++i];
        } else if (a == "--preset" && hasValue &&
                   (std::strcmp(argv[i + 1], "full") == 0 || std::strcmp(argv[i + 1], "small") == 0)) {
            preset = argv[++i];
        } else if (a == "--tick" && hasValue && number(argv[i + 1], 10, 60000, v)) {
            opt.tickPeriod = std::chrono::milliseconds(v);
            ++i;
        } else if (a == "--keepalive" && hasValue && number(argv[i + 1], 0, 600000, v)) {
            opt.keepAlivePeriod = std::chrono::milliseconds(v);
            ++i;
        } else if (a == "--no-ramp") {
            opt.ramp = false;
        } else {
            std::fprintf(stderr, "koru-sim hx1100: bad argument '%s'\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (address.empty()) {
        std::fprintf(stderr, "koru-sim hx1100: --address is required\n");
        usage();
        return 2;
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    korusim::Hx1100Sim sim(preset == "small" ? korusim::Hx1100Model::smallCrate()
                                             : korusim::Hx1100Model::fullCrate(),
                           address, uint16_t(port), opt);
    if (!sim.start()) {
        std::fprintf(stderr, "koru-sim hx1100: %s\n", sim.errorText().c_str());
        return 1;
    }
    std::printf("HX1100 crate simulator listening on %s:%u\n", sim.address().c_str(), unsigned(sim.port()));
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.stop();
    return 0;
}
