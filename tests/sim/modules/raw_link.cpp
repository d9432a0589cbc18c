#include "raw_link.h"

#include <gtest/gtest.h>

#include "wait_progress.h"

#include "modules/text_link_sim.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace rawlink {

int connectTo(const std::string &address, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int openPtySlave(const std::string &name)
{
    int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

bool isPtsName(const std::string &s)
{
    return s.size() > 4 && s.compare(0, 4, "pts/") == 0 &&
           s.find_first_not_of("0123456789", 4) == std::string::npos;
}

std::string readReply(int fd, int timeoutMs, const std::string &end)
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            break;
        char buf[2048];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        out.append(buf, size_t(n));
        if (out.size() >= end.size() && out.compare(out.size() - end.size(), end.size(), end) == 0)
            break;
    }
    return out;
}

std::string ask(int fd, const std::string &request, int timeoutMs)
{
    std::string line = request + "\r\n";
    if (::write(fd, line.data(), line.size()) != ssize_t(line.size()))
        return "<write failed>";
    return readReply(fd, timeoutMs);
}

pid_t spawnSim(const std::vector<std::string> &args, int &out)
{
    int p[2];
    if (::pipe(p) != 0)
        return -1;
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(p[1], 1);
        ::close(p[0]);
        ::close(p[1]);
        std::vector<std::string> copy = args;
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(KORU_SIM_PROGRAM));
        for (auto &a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(KORU_SIM_PROGRAM, argv.data());
        ::_exit(127);
    }
    ::close(p[1]);
    out = p[0];
    return pid;
}

int waitExit(pid_t pid)
{
    // Waits for the exit; only a hang ends the wait early (SIGKILL, -1).
    int st = 0;
    if (koru_test::waitFor([&] { return ::waitpid(pid, &st, WNOHANG) == pid; }))
        return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

void expectExchanges(korusim::TextLinkSim &sim, int fd, const std::vector<Exchange> &cases)
{
    for (const Exchange &c : cases) {
        size_t before = sim.violations().size();
        std::string want = *c.reply ? std::string(c.reply) + "\r\n" : std::string();
        EXPECT_EQ(ask(fd, c.request, *c.reply ? 1000 : 200), want) << c.request;
        EXPECT_EQ(sim.violations().size() - before, c.violation ? 1u : 0u) << c.request;
    }
}

} // namespace rawlink
