// koru-sim discovery: answers discovery queries until SIGINT or SIGTERM.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "discovery/discovery_sim.h"
#include "sim_modes.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

void usage()
{
    std::fprintf(stderr, "usage: koru-sim discovery [--address 127.0.0.1] [--port 113] [--first-device 2]\n"
                         "                          [--device TEXT]... [--first-only]\n"
                         "  answers \"LUMO<port>\" queries on the given loopback address; device i replies\n"
                         "  TEXT (model:serial:firmware:control) from 127.0.0.(first-device + i)\n");
}

} // namespace

int runDiscoverySim(int argc, char **argv)
{
    korusim::DiscoveryResponderOptions opt;
    bool firstOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--address" && hasValue) {
            opt.listenAddress = argv[++i];
        } else if (a == "--port" && hasValue) {
            long v = std::strtol(argv[++i], nullptr, 10);
            if (v < 0 || v > 65535) {
                usage();
                return 2;
            }
            opt.listenPort = uint16_t(v);
        } else if (a == "--first-device" && hasValue) {
            opt.firstDeviceOctet = int(std::strtol(argv[++i], nullptr, 10));
        } else if (a == "--device" && hasValue) {
            opt.devices.push_back({argv[++i], false, false, false});
        } else if (a == "--first-only") {
            firstOnly = true;
        } else {
            usage();
            return 2;
        }
    }
    if (opt.devices.empty())
        opt.devices.push_back({"HX4400:0001:2.3.0:HX4400 Tarmin", false, false, false});
    for (auto &d : opt.devices)
        d.firstQueryOnly = firstOnly;
    korusim::DiscoveryResponder responder(opt);
    std::string error;
    if (!responder.start(&error)) {
        std::fprintf(stderr, "koru-sim discovery: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
    std::printf("discovery responder on %s:%u, %zu device(s)\n", opt.listenAddress.c_str(), responder.port(),
                opt.devices.size());
    std::fflush(stdout);
    while (!g_stop)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    responder.stop();
    return 0;
}
