// The program modes: each starts, prints its ready line, serves one request
// and ends cleanly on SIGTERM.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "wait_progress.h"

#include "sim_client.h"

extern char **environ;

namespace {

// One running koru-sim; its first stdout line is read with a bound.
struct Program {
    pid_t pid = -1;
    int out = -1;

    explicit Program(std::vector<std::string> args)
    {
        int p[2];
        if (::pipe2(p, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, p[1], 1);
        args.insert(args.begin(), KORU_SIM_PROGRAM);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, KORU_SIM_PROGRAM, &fa, nullptr, argv.data(), environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(p[1]);
        out = p[0];
    }

    std::string readyLine(int timeoutMs = koru_test::kHangGuardMs)
    {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd pf{out, POLLIN, 0};
            if (::poll(&pf, 1, 100) <= 0)
                continue;
            char c[256];
            ssize_t n = ::read(out, c, sizeof c);
            if (n <= 0)
                break;
            line.append(c, size_t(n));
        }
        return line.substr(0, line.find('\n'));
    }

    // Exit status after SIGTERM (or on its own), -1 when it hangs.
    int stop(bool signal = true)
    {
        if (pid <= 0)
            return -1;
        if (signal)
            ::kill(pid, SIGTERM);
        int st = 0;
        if (koru_test::waitFor([&] { return ::waitpid(pid, &st, WNOHANG) == pid; })) {
            pid = -1;
            return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
        return -1;
    }

    ~Program()
    {
        if (pid > 0)
            stop();
        if (out >= 0)
            ::close(out);
    }
};

struct ModeCase {
    const char *mode;
    const char *request;
    const char *reply;
};

TEST(SimGrp2Program, EveryModeServesTcpUntilSigterm)
{
    const ModeCase cases[] = {
        {"l5026", "$BD:01,CMD:MON,PAR:BDNAME", "#BD:01,CMD:OK,VAL:L5026\r\n"},
        {"l5126", "$BD:00,CMD:MON,PAR:BDNAME", "#BD:00,CMD:OK,VAL:L5126\r\n"},
        {"trixhv", "$CMD:MON,PAR:BDNCH", "#CMD:OK,VAL:6\r\n"},
        {"zorn", "MRID:?", "#MRID:ZORN-300-30\r\n"},
    };
    for (const ModeCase &c : cases) {
        SCOPED_TRACE(c.mode);
        std::vector<std::string> args = {c.mode, "--address", "127.0.0.4", "--port", "0"};
        if (std::string(c.mode) == "l5026")
            args.insert(args.end(), {"--modules", "2"});
        if (std::string(c.mode) == "trixhv")
            args.insert(args.end(), {"--channels", "6"});
        Program p(args);
        ASSERT_GT(p.pid, 0);
        std::string ready = p.readyLine();
        unsigned port = 0;
        char addr[64] = {0};
        ASSERT_EQ(std::sscanf(ready.c_str(), "READY port=%u address=%63s", &port, addr), 2) << ready;
        EXPECT_STREQ(addr, "127.0.0.4");
        int fd = simclient::connectTo("127.0.0.4", uint16_t(port));
        ASSERT_GE(fd, 0);
        EXPECT_EQ(simclient::exchange(fd, c.request), c.reply);
        ::close(fd);
        EXPECT_EQ(p.stop(), 0);
    }
}

TEST(SimGrp2Program, SerialFamiliesServeAPtyAndZornRefusesOne)
{
    Program p({"trixhv", "--pty", "--modules", "2"});
    std::string ready = p.readyLine();
    ASSERT_EQ(ready.compare(0, 14, "READY pty=pts/"), 0) << ready;
    int fd = ::open(("/dev/" + ready.substr(10)).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    EXPECT_EQ(simclient::exchange(fd, "$BD:1,CMD:MON,PAR:BDSNUM"), "#CMD:OK,VAL:4001\r\n");
    ::close(fd);
    EXPECT_EQ(p.stop(), 0);

    Program z({"zorn", "--pty"});
    EXPECT_EQ(z.readyLine(2000), "");
    EXPECT_EQ(z.stop(false), 2);
}

} // namespace
