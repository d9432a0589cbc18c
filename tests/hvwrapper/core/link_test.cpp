// The link layer over a pseudo-terminal and over loopback TCP.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "link.h"
#include "sock_util.h"

using namespace koruhv;
using namespace coretest;
using namespace std::chrono;
using namespace std::chrono_literals;

namespace {

struct Pty {
    int master = -1;
    int slave = -1;
    std::string port; // "pts/N"
    Pty()
    {
        char name[64];
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            port = std::string(name).substr(5);
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    void put(const std::string &s) const { (void)!::write(master, s.data(), s.size()); }
};

std::string readAll(int fd, size_t want, int ms)
{
    std::string got;
    const auto until = steady_clock::now() + milliseconds(ms);
    while (got.size() < want && steady_clock::now() < until) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            continue;
        char buf[4096];
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    return got;
}

} // namespace

TEST(SerialLinkTest, OpenChoosesSpeedAndFailsOnBadPorts)
{
    Pty pty;
    ASSERT_FALSE(pty.port.empty());
    int fd = -5;
    EXPECT_EQ(Serial_Open("", 9600, 8, 0, 0, 0, &fd), LINK_SERIAL_OPEN);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(Serial_Open(nullptr, 9600, 8, 0, 0, 0, &fd), LINK_SERIAL_OPEN);
    EXPECT_EQ(Serial_Open("no-such-port-here", 9600, 8, 0, 0, 0, &fd), LINK_SERIAL_OPEN);
    const struct {
        int baud;
        speed_t speed;
    } cases[] = {{9600, B9600}, {115200, B115200}, {12345, B115200}, {230400, B230400}, {110, B110}};
    for (const auto &c : cases) {
        ASSERT_EQ(Serial_Open(pty.port.c_str(), c.baud, 8, 0, 2, 0, &fd), 0);
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_lflag & ICANON, 0u);
        EXPECT_EQ(Serial_Close(fd), 0);
    }
}

TEST(SerialLinkTest, RepliesInChunksSlowAndMissing)
{
    Pty pty;
    int fd = -1;
    ASSERT_EQ(Serial_Open(pty.port.c_str(), 9600, 8, 0, 0, 0, &fd), 0);
    char buf[256] = "";
    // Three chunks within the budget.
    std::thread t([&] {
        pty.put("#BD:01,");
        std::this_thread::sleep_for(80ms);
        pty.put("CMD:OK");
        std::this_thread::sleep_for(80ms);
        pty.put("\r\n");
    });
    EXPECT_EQ(Serial_ReadReply(fd, buf, sizeof buf), 0);
    t.join();
    EXPECT_STREQ(buf, "#BD:01,CMD:OK\r\n");

    // Appends to what the buffer holds.
    std::strcpy(buf, ">");
    pty.put("x\n\r");
    EXPECT_EQ(Serial_ReadReply(fd, buf, sizeof buf), 0);
    EXPECT_STREQ(buf, ">x\n\r");

    // A unit that needs longer: what came, code 0, within the budget.
    buf[0] = '\0';
    pty.put("part");
    auto t0 = steady_clock::now();
    EXPECT_EQ(Serial_ReadReply(fd, buf, sizeof buf), 0);
    EXPECT_LT(steady_clock::now() - t0, 5s); // about 600 ms; the margin is for a loaded machine
    EXPECT_STREQ(buf, "part");

    // Nothing at all: 29 after about 600 ms.
    buf[0] = '\0';
    t0 = steady_clock::now();
    EXPECT_EQ(Serial_ReadReply(fd, buf, sizeof buf), LINK_FAILED);
    const auto waited = steady_clock::now() - t0;
    EXPECT_GE(waited, 500ms);
    EXPECT_LT(waited, 5s);
    Serial_Close(fd);
}

TEST(SerialLinkTest, ReplyStopsAtTheBufferCapacity)
{
    Pty pty;
    int fd = -1;
    ASSERT_EQ(Serial_Open(pty.port.c_str(), 9600, 8, 0, 0, 0, &fd), 0);
    char buf[16];
    std::memset(buf, 0, sizeof buf);
    char *small = buf + 4; // 8 usable bytes, guards around
    pty.put(std::string(40, 'q') + "\r\n");
    EXPECT_EQ(Serial_ReadReply(fd, small, 8), 0);
    EXPECT_EQ(std::string(small), std::string(7, 'q'));
    EXPECT_EQ(buf[12], 0);
    EXPECT_EQ(buf[3], 0);
    Serial_Close(fd);
}

TEST(SerialLinkTest, WritesLoopOverShortWrites)
{
    Pty pty;
    int fd = -1;
    ASSERT_EQ(Serial_Open(pty.port.c_str(), 9600, 8, 0, 0, 0, &fd), 0);
    std::string big;
    for (int i = 0; i < 3000; ++i)
        big += "ABCDEFGHIJ";
    std::string got;
    std::thread reader([&] { got = readAll(pty.master, big.size(), koru_test::kHangGuardMs); });
    EXPECT_EQ(Serial_WriteString(fd, big.c_str()), 0);
    reader.join();
    EXPECT_EQ(got, big);
    EXPECT_EQ(Serial_WriteString(fd, nullptr), LINK_FAILED);

    // Nobody reads: the write gives up after a bounded wait.
    const std::string huge(4 << 20, 'z');
    const auto t0 = steady_clock::now();
    EXPECT_EQ(Serial_WriteString(fd, huge.c_str()), LINK_FAILED);
    EXPECT_LT(steady_clock::now() - t0, 10s);
    Serial_Close(fd);
}

TEST(TcpLinkTest, ConnectRefusedAndClose)
{
    unsigned short freePort;
    {
        Listener l("127.0.0.77");
        freePort = l.port;
    } // closed: nobody listens there now
    int s = 7;
    EXPECT_EQ(Tcp_Connect("127.0.0.77", &s, freePort), LINK_FAILED);
    EXPECT_EQ(s, -1);
    EXPECT_EQ(Tcp_Connect("not an address", &s, 80), LINK_FAILED);
    EXPECT_EQ(Tcp_Close(0), LINK_CLOSE_ZERO);

    Listener l("127.0.0.2");
    ASSERT_EQ(Tcp_Connect("127.0.0.2", &s, l.port), 0);
    EXPECT_GT(s, 0);
    const int flags = fcntl(s, F_GETFL, 0);
    EXPECT_EQ(flags & O_NONBLOCK, 0); // blocking mode restored
    EXPECT_EQ(Tcp_Close(s), 0);

    // The short classic form of an IPv4 address is read as well.
    Listener shortForm("127.0.0.78");
    ASSERT_EQ(Tcp_Connect("127.78", &s, shortForm.port), 0);
    EXPECT_EQ(Tcp_Close(s), 0);
}

TEST(TcpLinkTest, RepliesSplitStalledMissingAndCapped)
{
    Listener l("127.0.0.2");
    int s = -1;
    ASSERT_EQ(Tcp_Connect("127.0.0.2", &s, l.port), 0);
    const int peer = l.accept();
    ASSERT_GE(peer, 0);
    auto put = [&](const std::string &t) { ::send(peer, t.data(), t.size(), MSG_NOSIGNAL); };
    char buf[128];

    std::thread t([&] {
        put("VMON=1");
        std::this_thread::sleep_for(100ms);
        put("2.5\n");
    });
    EXPECT_EQ(Tcp_ReadReply(s, buf, sizeof buf), 0);
    t.join();
    EXPECT_STREQ(buf, "VMON=12.5\n");

    // A stall after the first bytes: every receive is bounded.
    put("half");
    auto t0 = steady_clock::now();
    EXPECT_EQ(Tcp_ReadReply(s, buf, sizeof buf), 0);
    EXPECT_LT(steady_clock::now() - t0, 10s); // about 1 s
    EXPECT_STREQ(buf, "half");

    // No reply within 1 s.
    t0 = steady_clock::now();
    EXPECT_EQ(Tcp_ReadReply(s, buf, sizeof buf), LINK_FAILED);
    EXPECT_LT(steady_clock::now() - t0, 10s); // about 1 s
    EXPECT_STREQ(buf, "");

    // Capacity.
    put("abcdefghijkl\n");
    EXPECT_EQ(Tcp_ReadReply(s, buf, 5), 0);
    EXPECT_STREQ(buf, "abcd");
    Tcp_ReadReply(s, buf, sizeof buf); // the rest

    // Sends.
    EXPECT_EQ(Tcp_SendString(s, nullptr), LINK_NULL_TEXT);
    EXPECT_EQ(Tcp_SendString(s, "RD VMON\r\n"), 0);
    EXPECT_EQ(readAll(peer, 9, koru_test::kHangGuardMs), "RD VMON\r\n");
    // Peer closed: sends fail (no signal) with 2.
    ::close(peer);
    std::this_thread::sleep_for(50ms);
    int rc = 0;
    for (int i = 0; i < 50 && rc == 0; ++i)
        rc = Tcp_SendString(s, "X\r\n");
    EXPECT_EQ(rc, LINK_SEND_FAILED);
    Tcp_Close(s);
}

TEST(LinkTextTest, DecimalsCommasAndErrnoText)
{
    EXPECT_DOUBLE_EQ(ParseDecimal("12.05"), 12.05);
    EXPECT_DOUBLE_EQ(ParseDecimal("-1.5"), -1.5);
    EXPECT_DOUBLE_EQ(ParseDecimal("7"), 7.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("7."), 7.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("+0.001"), 0.001);
    EXPECT_DOUBLE_EQ(ParseDecimal("-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(ParseDecimal(""), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimal(nullptr), 0.0);
    EXPECT_DOUBLE_EQ(ParseDecimal("3.5V"), 3.5);
    char t[] = "1,50;2,0";
    CommaToDot(t);
    EXPECT_STREQ(t, "1.50;2.0");
    CommaToDot(nullptr);
    errno = ECONNREFUSED;
    EXPECT_STREQ(ErrnoText(), std::strerror(ECONNREFUSED));
    EXPECT_EQ(errno, ECONNREFUSED);
}

TEST(LinkMutexTest, RecursiveLock)
{
    pthread_mutex_t m;
    Link_InitRecursiveMutex(&m);
    Link_LockMutex(&m);
    Link_LockMutex(&m); // a second lock of the same thread does not block
    Link_UnlockMutex(&m);
    Link_UnlockMutex(&m);
    EXPECT_EQ(pthread_mutex_trylock(&m), 0);
    Link_UnlockMutex(&m);
    Link_DestroyMutex(&m);
}
