// The program modes of the four families: the ready line, one exchange over
// TCP or a pty, and a clean end on SIGTERM.
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include <gtest/gtest.h>

#include "raw_link.h"

using namespace rawlink;

namespace {

struct ModeCase {
    const char *mode;
    const char *request;
    const char *reply;
};

const ModeCase kModes[] = {
    {"w9300", "$CMD:MON,CH:8,PAR:NUMCH", "#CMD:OK,VAL:6\r\n"},
    {"l317e", "$BD:01,CMD:MON,PAR:BDNAME", "#BD:01,CMD:OK,VAL:L317E\r\n"},
    {"zjv", "$CMD:MON,PAR:BDNCH", "#CMD:OK,VAL:2\r\n"},
    {"bq71xxe", "$CMD:MON,PAR:BDNCH", "#CMD:OK,VAL:4\r\n"},
};

TEST(Grp1SimProgram, EveryModeServesTcpUntilSigterm)
{
    for (const ModeCase &c : kModes) {
        SCOPED_TRACE(c.mode);
        std::vector<std::string> args = {c.mode, "--address", "127.0.0.4", "--port", "0"};
        if (std::string(c.mode) == "l317e")
            args.insert(args.end(), {"--modules", "2"});
        int out = -1;
        pid_t pid = spawnSim(args, out);
        ASSERT_GT(pid, 0);
        std::string ready = readReply(out, 10000, "\n");
        unsigned port = 0;
        char address[64] = {0};
        ASSERT_EQ(std::sscanf(ready.c_str(), "READY port=%u address=%63s", &port, address), 2) << ready;
        EXPECT_STREQ(address, "127.0.0.4");
        int fd = connectTo("127.0.0.4", uint16_t(port));
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ask(fd, c.request), c.reply);
        ::close(fd);
        ::kill(pid, SIGTERM);
        EXPECT_EQ(waitExit(pid), 0);
        ::close(out);
    }
}

TEST(Grp1SimProgram, EveryModeServesAPty)
{
    for (const ModeCase &c : kModes) {
        SCOPED_TRACE(c.mode);
        std::vector<std::string> args = {c.mode, "--pty"};
        if (std::string(c.mode) == "l317e")
            args.insert(args.end(), {"--modules", "2"});
        int out = -1;
        pid_t pid = spawnSim(args, out);
        ASSERT_GT(pid, 0);
        std::string ready = readReply(out, 10000, "\n");
        ASSERT_EQ(ready.compare(0, 10, "READY pty="), 0) << ready;
        std::string name = ready.substr(10, ready.size() - 11);
        ASSERT_TRUE(isPtsName(name)) << ready;
        int fd = openPtySlave(name);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ask(fd, c.request), c.reply);
        ::close(fd);
        ::kill(pid, SIGINT);
        EXPECT_EQ(waitExit(pid), 0);
        ::close(out);
    }
}

TEST(Grp1SimProgram, RefusesASecondModuleWhereTheProtocolHasNoAddress)
{
    for (const char *mode : {"w9300", "zjv", "bq71xxe"}) {
        int out = -1;
        pid_t pid = spawnSim({mode, "--modules", "2"}, out);
        ASSERT_GT(pid, 0);
        EXPECT_EQ(waitExit(pid), 2) << mode;
        ::close(out);
    }
    int out = -1;
    pid_t pid = spawnSim({"zjv", "--channels", "3"}, out);
    EXPECT_EQ(waitExit(pid), 2);
    ::close(out);
}

} // namespace
