// koru-sim crate: serves one simulated crate until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "crate/crate_sim.h"
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
    std::string address;
    long port = 2200;
    std::string preset = "full";
    korusim::CrateSimOptions opt;
    opt.tickPeriod = std::chrono::milliseconds(500);
    unsigned switchOn = 0;
    double volts = 500.0;
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
        } else if (a == "--switch-on" && hasValue && number(argv[i + 1], 0, 1000, v)) {
            switchOn = unsigned(v);
            ++i;
        } else if (a == "--volts" && hasValue && number(argv[i + 1], 0, 3000, v)) {
            volts = double(v);
            ++i;
        } else if (a == "--no-ramp") {
            opt.ramp = false;
        } else {
            std::fprintf(stderr, "koru-sim crate: bad argument '%s'\n", a.c_str());
            usage();
            return 2;
        }
    }
    if (address.empty()) {
        std::fprintf(stderr, "koru-sim crate: --address is required\n");
        usage();
        return 2;
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    korusim::CrateModel model =
        preset == "small" ? korusim::CrateModel::smallCrate() : korusim::CrateModel::fullCrate();
    if (switchOn > 0)
        switchOnChannels(model, switchOn, volts);
    korusim::CrateSim sim(model, address, uint16_t(port), opt);
    if (!sim.start()) {
        std::fprintf(stderr, "koru-sim crate: %s\n", sim.errorText().c_str());
        return 1;
    }
    std::printf("crate simulator listening on %s:%u\n", sim.address().c_str(), unsigned(sim.port()));
    std::fflush(stdout);
    int sig = 0;
    sigwait(&stopSignals, &sig);
    sim.stop();
    return 0;
}
