#include "crate/server_mode.h"

#include <algorithm>
#include <cstdio>

namespace korusim {

namespace {

int bad(const ServerMode &mode, const std::string &what)
{
    std::fprintf(stderr, "koru-sim %s: %s\n", mode.name, what.c_str());
    mode.usage();
    return 2;
}

} // namespace

int parseServerMode(const ServerMode &mode, int argc, char **argv, ServerModeArgs &out)
{
    out.port = mode.defaultPort;
    out.preset = mode.presets.empty() ? std::string() : mode.presets.front();
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        const char *value = hasValue ? argv[i + 1] : "";
        long v = 0;
        if (a == "--help" || a == "-h") {
            mode.usage();
            return 0;
        }
        if (a == "--address" && hasValue) {
            out.address = value;
        } else if (a == "--port" && hasValue && parseNumber(value, 0, 65535, v)) {
            out.port = v;
        } else if (a == "--user" && hasValue) {
            out.user = value;
            out.userGiven = true;
        } else if (a == "--password" && hasValue) {
            out.password = value;
            out.passwordGiven = true;
        } else if (a == "--preset" && hasValue &&
                   std::find(mode.presets.begin(), mode.presets.end(), value) != mode.presets.end()) {
            out.preset = value;
        } else if (a == "--tick" && hasValue && parseNumber(value, 10, 60000, v)) {
            out.tick = std::chrono::milliseconds(v);
        } else if (a == "--keepalive" && hasValue && parseNumber(value, 0, 600000, v)) {
            out.keepAlive = std::chrono::milliseconds(v);
        } else if (a == "--no-ramp") {
            out.ramp = false;
            continue;
        } else {
            const ModeOption *own = nullptr;
            for (const ModeOption &o : mode.extra)
                if (a == o.name)
                    own = &o;
            if (!own || (own->hasValue && !(hasValue && parseNumber(value, own->lo, own->hi, v))))
                return bad(mode, "bad argument '" + a + "'");
            const int code = own->take(own->hasValue ? v : 0);
            if (code >= 0)
                return code;
            if (!own->hasValue)
                continue;
        }
        ++i; // the value
    }
    if (out.address.empty())
        return bad(mode, "--address is required");
    return -1;
}

void reportStartFailure(const ServerMode &mode, const std::string &error)
{
    std::fprintf(stderr, "koru-sim %s: %s\n", mode.name, error.c_str());
}

void printReadyLine(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace korusim
