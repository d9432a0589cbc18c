// The crate-like modes' command line: shared options, a mode's own options
// and presets, and the exit codes of help, bad and missing arguments.
#include "crate/server_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void noUsage() {}

struct ArgsCase {
    std::vector<std::string> argv;
    int code; // -1: serve
    std::string address;
    long port;
    std::string preset;
    long extra; // what the mode's own option took (-1: nothing)
};

const ArgsCase kCases[] = {
    {{"--address", "127.0.0.2"}, -1, "127.0.0.2", 2200, "full", -1},
    {{"--address", "127.0.0.3", "--port", "0", "--preset", "small", "--level", "7"},
     -1,
     "127.0.0.3",
     0,
     "small",
     7},
    {{"--level", "7", "--address", "127.0.0.3", "--no-ramp"}, -1, "127.0.0.3", 2200, "full", 7},
    {{"--port", "2300"}, 2, "", 2300, "full", -1},                        // no address
    {{"--address", "127.0.0.2", "--port", "70000"}, 2, "", 0, "", -1},    // port out of range
    {{"--address", "127.0.0.2", "--preset", "rack"}, 2, "", 0, "", -1},   // not this mode's preset
    {{"--address", "127.0.0.2", "--level", "12"}, 2, "", 0, "", -1},      // own option out of range
    {{"--address", "127.0.0.2", "--level"}, 2, "", 0, "", -1},            // own option without value
    {{"--address", "127.0.0.2", "--bogus"}, 2, "", 0, "", -1},            // unknown
    {{"--help", "--bogus"}, 0, "", 0, "", -1},                            // help first
    {{"--address", "127.0.0.2", "--print", "--bogus"}, 5, "", 0, "", -1}, // a switch that ends the program
};

TEST(ServerModeArgs, ParsesSharedAndOwnOptionsAndRefusesTheRest)
{
    for (const ArgsCase &c : kCases) {
        long level = -1;
        const korusim::ServerMode mode{"test",
                                       2200,
                                       {"full", "small"},
                                       noUsage,
                                       {{"--level", true, 0, 10,
                                         [&](long v) {
                                             level = v;
                                             return -1;
                                         }},
                                        {"--print", false, 0, 0, [](long) { return 5; }}}};
        std::vector<std::string> words{"koru-sim"};
        words.insert(words.end(), c.argv.begin(), c.argv.end());
        std::vector<char *> argv;
        for (std::string &w : words)
            argv.push_back(w.data());
        korusim::ServerModeArgs args;
        const int code = korusim::parseServerMode(mode, int(argv.size()), argv.data(), args);
        const std::string where = c.argv.empty() ? std::string() : c.argv.back();
        EXPECT_EQ(code, c.code) << where;
        if (code != -1)
            continue;
        EXPECT_EQ(args.address, c.address) << where;
        EXPECT_EQ(args.port, c.port) << where;
        EXPECT_EQ(args.preset, c.preset) << where;
        EXPECT_EQ(level, c.extra) << where;
    }
}

TEST(ServerModeArgs, SharedOptionsReachTheSimulatorsOptionsOnlyWhenGiven)
{
    struct Options {
        std::string user = "admin", password = "admin";
        std::chrono::milliseconds tickPeriod{100}, keepAlivePeriod{3000};
        bool ramp = true;
    };
    korusim::ServerModeArgs given;
    given.user = "u";
    given.userGiven = true;
    given.tick = std::chrono::milliseconds(250);
    given.ramp = false;
    Options opt;
    korusim::applyServerMode(given, opt);
    EXPECT_EQ(opt.user, "u");
    EXPECT_EQ(opt.password, "admin");
    EXPECT_EQ(opt.tickPeriod.count(), 250);
    EXPECT_EQ(opt.keepAlivePeriod.count(), 3000);
    EXPECT_FALSE(opt.ramp);
}

} // namespace
