// koru-sim p8080: serves one simulated rack supply until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/p8080_sim.h"
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

int runP8080Sim(int argc, char **argv)
{
    std::string address;
    long port = korusim::kP8080Port;
    std::string preset = "rack";
    korusim::P8080SimOptions opt;
    opt.eventPort = korusim::kP8080EventPort;
    opt.tickPeriod = std::chrono::milliseconds(500);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        long v = 0;
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--print-key") {
            std::fputs(korusim::P8080Sim::builtinPublicKeyPem().c_str(), stdout);
            return 0;
        } else if (a == "--address" && hasValue) {
            address = argv[++i];
        } else if (a == "--port" && hasValue && number(argv[i + 1], 0, 65535, v)) {
            port = v;
            ++i;
        } else if (a == "--event-port" && hasValue && number(argv[i + 1], 0, 65535, v)) {
            opt.eventPort = uint16_t(v);
            ++i;
        } else if (a == "--user" && hasValue) {
            opt.user = argv[++i];
        } else if (a == "--password" && hasValue) {
            opt.password = argv[++i];
        } else if (a == "--preset" && hasValue &&
                   (std::strcmp(argv[i + 1], "rack") == 0 || std::strcmp(argv[i + 1], "small") == 0)) {
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
            std::fprintf(stderr, "koru-sim p8080: bad argument '%s'\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (address.empty()) {
        std::fprintf(stderr, "koru-sim p8080: --address is required\n");
        usage();
        return 2;
    }

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    korusim::P8080Sim sim(preset == "small" ? korusim::P8080Model::smallRack() : korusim::P8080Model::rack(),
                          address, uint16_t(port), opt);
    if (!sim.start()) {
        std::fprintf(stderr, "koru-sim p8080: %s\n", sim.errorText().c_str());
        return 1;
    }
    std::printf("P8080 rack simulator listening on %s:%u (events on port %u)\n", sim.address().c_str(),
                unsigned(sim.port()), unsigned(sim.eventPort()));
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.stop();
    return 0;
}
