// The L2290 simulator on its own: raw bytes over a socket and a pty, the
// device's answers, its physics, every fault knob and the program mode.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "raw_link.h"
#include "wait_progress.h"

#include "modules/l2290_sim.h"

using namespace korusim;
using namespace std::chrono_literals;

namespace {

int connectTo(const std::string &address, uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
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

void sendText(int fd, const std::string &s)
{
    ASSERT_EQ(::write(fd, s.data(), s.size()), ssize_t(s.size()));
}

// One read with a bound; "" on time-out, sets eof when the peer closed.
std::string readChunk(int fd, int timeoutMs, bool *eof = nullptr)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return {};
    char buf[2048];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) {
        if (eof)
            *eof = true;
        return {};
    }
    return std::string(buf, size_t(n));
}

// Reads until the text ends in `end` or nothing more comes within timeoutMs.
std::string readReply(int fd, int timeoutMs, const std::string &end = "\r\n")
{
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int left = int(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
                .count());
        bool eof = false;
        std::string c = readChunk(fd, std::max(left, 1), &eof);
        out += c;
        if (eof || (out.size() >= end.size() && out.compare(out.size() - end.size(), end.size(), end) == 0))
            break;
    }
    return out;
}

bool isPtsName(const std::string &s)
{
    return s.size() > 4 && s.compare(0, 4, "pts/") == 0 &&
           s.find_first_not_of("0123456789", 4) == std::string::npos;
}

std::string ask(int fd, const std::string &request, int timeoutMs = koru_test::kHangGuardMs)
{
    sendText(fd, request + "\r\n");
    return readReply(fd, timeoutMs);
}

// A TCP simulator with one connected raw client; physics only by advance().
class TcpSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim.setTickPeriod(0ms);
        ASSERT_TRUE(sim.startTcp("127.0.0.2", 0)) << sim.error();
        fd = connectTo("127.0.0.2", sim.port());
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
        sim.stop();
    }
    static std::vector<L2290Module> modules()
    {
        L2290Module m = L2290Module::make(3, 2);
        m.serial = 4711;
        m.firmware = "2.07";
        return {m, L2290Module::make(0, 4)};
    }
    L2290Sim sim{modules()};
    int fd = -1;
};

TEST_F(TcpSim, AnswersIdentificationByteExactAndLogsTheRequests)
{
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:BDNAME"), "#BD:03,CMD:OK,VAL:L2290\r\n");
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:BDNCH"), "#BD:03,CMD:OK,VAL:2\r\n");
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:BDFREL"), "#BD:03,CMD:OK,VAL:2.07\r\n");
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:BDSNUM"), "#BD:03,CMD:OK,VAL:4711\r\n");
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,PAR:BDNCH"), "#BD:00,CMD:OK,VAL:4\r\n");
    // Nobody sits at address 7: no answer at all.
    EXPECT_EQ(ask(fd, "$BD:07,CMD:MON,PAR:BDNAME", 200), "");

    auto log = sim.requests();
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0].raw, "$BD:03,CMD:MON,PAR:BDNAME\r\n");
    EXPECT_EQ(log[0].line, "$BD:03,CMD:MON,PAR:BDNAME");
    EXPECT_EQ(log[0].reply, "#BD:03,CMD:OK,VAL:L2290\r\n");
    EXPECT_EQ(log[5].reply, "");
    EXPECT_TRUE(sim.violations().empty());
    EXPECT_EQ(sim.lines("PAR:BDNCH$").size(), 2u);
}

TEST_F(TcpSim, AnswersSetsMonitorsAndErrorsLikeTheModule)
{
    struct Case {
        const char *request;
        const char *reply;
        bool violation;
    };
    const Case cases[] = {
        {"$BD:03,CMD:SET,CH:1,PAR:VSET,VAL:150.0", "#BD:03,CMD:OK", false},
        {"$BD:03,CMD:MON,CH:1,PAR:VSET", "#BD:03,CMD:OK,VAL:0150.0", false},
        {"$BD:03,CMD:MON,CH:2,PAR:VSET", "#BD:03,CMD:OK,VAL:0000.0;0150.0", false}, // CH = count: all
        {"$BD:03,CMD:SET,CH:2,PAR:RUP,VAL:120", "#BD:03,CMD:OK", false},            // set on all channels
        {"$BD:03,CMD:MON,CH:2,PAR:RUP", "#BD:03,CMD:OK,VAL:120;120", false},
        {"$BD:03,CMD:MON,CH:0,PAR:ISET", "#BD:03,CMD:OK,VAL:3000.00", false},
        {"$BD:03,CMD:MON,CH:0,PAR:STAT", "#BD:03,CMD:OK,VAL:00000", false},
        {"$BD:03,CMD:MON,CH:0,PAR:IMRANGE", "#BD:03,CMD:OK,VAL:HIGH", false},
        {"$BD:03,CMD:MON,CH:0,PAR:IMDEC", "#BD:03,CMD:OK,VAL:2", false},
        {"$BD:03,CMD:SET,CH:0,PAR:IMRANGE,VAL:LOW", "#BD:03,CMD:OK", false},
        {"$BD:03,CMD:MON,CH:0,PAR:IMDEC", "#BD:03,CMD:OK,VAL:4", false},
        {"$BD:03,CMD:MON,CH:0,PAR:IMON", "#BD:03,CMD:OK,VAL:0000.0000", false},
        {"$BD:03,CMD:MON,CH:0,PAR:VMAX", "#BD:03,CMD:OK,VAL:8000", false},
        {"$BD:03,CMD:MON,CH:0,PAR:POL", "#BD:03,CMD:OK,VAL:+", false},
        {"$BD:03,CMD:MON,CH:0,PAR:PDWN", "#BD:03,CMD:OK,VAL:RAMP", false},
        {"$BD:03,CMD:SET,PAR:BDILKM,VAL:CLOSED", "#BD:03,CMD:OK", false},
        {"$BD:03,CMD:MON,PAR:BDILKM", "#BD:03,CMD:OK,VAL:CLOSED", false},
        {"$BD:03,CMD:MON,PAR:BDALARM", "#BD:03,CMD:OK,VAL:00000", false},
        {"$BD:03,CMD:SET,PAR:BDCLR", "#BD:03,CMD:OK", false},
        // Refusals.
        {"$BD:03,CMD:MON,CH:3,PAR:VMON", "#BD:03,CH:ERR", false},             // beyond the channels
        {"$BD:03,CMD:MON,CH:0,PAR:Pw", "#BD:03,PAR:ERR", false},              // not a device word
        {"$BD:03,CMD:SET,CH:0,PAR:VMON,VAL:1.0", "#BD:03,CMD:ERR", false},    // read-only
        {"$BD:03,CMD:SET,CH:0,PAR:VSET,VAL:9000.0", "#BD:03,VAL:ERR", false}, // above VMAX
        {"$BD:03,CMD:SET,CH:0,PAR:VSET,VAL:1,5", "#BD:03,VAL:ERR", true},     // decimal comma
        {"$BD:03,CMD:SET,CH:0,PAR:VSET", "#BD:03,VAL:ERR", true},
        {"$BD:03,CMD:SET,CH:0,PAR:ON,VAL:ON", "#BD:03,VAL:ERR", true},
        {"$BD:03,CMD:SET,CH:0,PAR:PDWN,VAL:Kill", "#BD:03,VAL:ERR", true},
        {"$BD:03,CMD:MON,CH:0,PAR:BDNAME", "#BD:03,CH:ERR", true},
        {"$BD:03,CMD:MON,PAR:VMON", "#BD:03,CH:ERR", true},
        {"$BD:03,CMD:SET,PAR:BDNAME,VAL:X", "#BD:03,CMD:ERR", false},
        {"$BD:03,CMD:GET,PAR:BDNAME", "#BD:03,CMD:ERR", true},
        {"$BD:3,CMD:MON,PAR:BDNAME", "", true}, // address not two digits: nobody feels addressed
    };
    for (const Case &c : cases) {
        size_t before = sim.violations().size();
        std::string expect = *c.reply ? std::string(c.reply) + "\r\n" : std::string();
        EXPECT_EQ(ask(fd, c.request, *c.reply ? 1000 : 200), expect) << c.request;
        EXPECT_EQ(sim.violations().size(), before + (c.violation ? 1 : 0)) << c.request;
    }
    EXPECT_DOUBLE_EQ(sim.channel(3, 1).vset, 150.0);
    EXPECT_TRUE(sim.channel(3, 0).lowRange);

    sim.setLocal(3, true);
    EXPECT_EQ(ask(fd, "$BD:03,CMD:SET,CH:0,PAR:VSET,VAL:10.0"), "#BD:03,LOC:ERR\r\n");
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:BDCTR"), "#BD:03,CMD:OK,VAL:LOCAL\r\n");
    EXPECT_DOUBLE_EQ(sim.channel(3, 0).vset, 0.0);
}

TEST_F(TcpSim, RequestWithoutCarriageReturnIsServedButMarked)
{
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNCH\n");
    EXPECT_EQ(readReply(fd, 1000), "#BD:00,CMD:OK,VAL:4\r\n");
    ASSERT_EQ(sim.violations().size(), 1u);
    EXPECT_NE(sim.violations()[0].find("CR LF"), std::string::npos);
}

TEST(L2290SimPhysics, RampsTripsAndClearsAlarms)
{
    L2290Sim sim({L2290Module::make(0, 2)});
    sim.setTickPeriod(0ms);
    auto req = [&](const std::string &line) {
        return sim.dialect().handle(line, true).text.value_or("<none>");
    };
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:0,PAR:VSET,VAL:100.0"), "#BD:00,CMD:OK");
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:0,PAR:RUP,VAL:50"), "#BD:00,CMD:OK");
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:0,PAR:RDW,VAL:25"), "#BD:00,CMD:OK");
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:0,PAR:ON"), "#BD:00,CMD:OK");
    sim.advance(1.0);
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:VMON"), "#BD:00,CMD:OK,VAL:0050.0");
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:STAT"), "#BD:00,CMD:OK,VAL:00003");   // on, ramping up
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:IMON"), "#BD:00,CMD:OK,VAL:0000.50"); // 50 V on 100 MOhm
    sim.advance(2.0);
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:2,PAR:VMON"), "#BD:00,CMD:OK,VAL:0100.0;0000.0");
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:STAT"), "#BD:00,CMD:OK,VAL:00001");

    // Off ramps down at RDW and keeps the on bit until the voltage is gone.
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:0,PAR:OFF"), "#BD:00,CMD:OK");
    sim.advance(1.0);
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:VMON"), "#BD:00,CMD:OK,VAL:0075.0");
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:STAT"), "#BD:00,CMD:OK,VAL:00005");
    sim.advance(10.0);
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:0,PAR:STAT"), "#BD:00,CMD:OK,VAL:00000");

    // Over-current for longer than TRIP switches the channel off and raises
    // its alarm bit; BDCLR clears both.
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:1,PAR:TRIP,VAL:0.5"), "#BD:00,CMD:OK");
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:1,PAR:ON"), "#BD:00,CMD:OK");
    sim.setMonitored(0, 1, 10.0, 3100.0);
    sim.advance(0.3);
    EXPECT_TRUE(sim.channel(0, 1).on);
    sim.advance(0.3);
    EXPECT_FALSE(sim.channel(0, 1).on);
    EXPECT_EQ(req("$BD:00,CMD:MON,PAR:BDALARM"), "#BD:00,CMD:OK,VAL:00002");
    EXPECT_NE(sim.channel(0, 1).status() & kL2290Tripped, 0u);
    ASSERT_EQ(req("$BD:00,CMD:SET,PAR:BDCLR"), "#BD:00,CMD:OK");
    EXPECT_EQ(req("$BD:00,CMD:MON,PAR:BDALARM"), "#BD:00,CMD:OK,VAL:00000");
    EXPECT_EQ(sim.channel(0, 1).status() & kL2290Tripped, 0u);

    // The interlock switches every channel off and shows in the status.
    sim.release(0, 1);
    ASSERT_EQ(req("$BD:00,CMD:SET,CH:2,PAR:ON"), "#BD:00,CMD:OK");
    sim.setInterlock(0, true);
    sim.advance(0.1);
    EXPECT_EQ(req("$BD:00,CMD:MON,PAR:BDILK"), "#BD:00,CMD:OK,VAL:YES");
    EXPECT_EQ(req("$BD:00,CMD:MON,CH:2,PAR:STAT"), "#BD:00,CMD:OK,VAL:04096;04096");
}

TEST_F(TcpSim, SilenceSwallowsTheRequestOnceThenTheModuleAnswers)
{
    sim.addFault(Fault::silence("PAR:VSET,VAL"));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,CH:0,PAR:VSET,VAL:10.0", 200), "");
    EXPECT_DOUBLE_EQ(sim.channel(0, 0).vset, 0.0); // never reached the module
    EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,CH:0,PAR:VSET,VAL:10.0"), "#BD:00,CMD:OK\r\n");
    EXPECT_DOUBLE_EQ(sim.channel(0, 0).vset, 10.0);
    EXPECT_EQ(sim.pendingFaults(), 0);
}

TEST_F(TcpSim, ErrorRepliesOfEveryKindLeaveTheModuleUnchanged)
{
    const std::pair<DeviceError, const char *> kinds[] = {{DeviceError::Cmd, "#BD:00,CMD:ERR\r\n"},
                                                          {DeviceError::Ch, "#BD:00,CH:ERR\r\n"},
                                                          {DeviceError::Par, "#BD:00,PAR:ERR\r\n"},
                                                          {DeviceError::Val, "#BD:00,VAL:ERR\r\n"},
                                                          {DeviceError::Loc, "#BD:00,LOC:ERR\r\n"}};
    for (auto &[kind, reply] : kinds) {
        sim.addFault(Fault::errorReply("PAR:VSET", kind));
        EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,CH:0,PAR:VSET,VAL:20.0"), reply);
    }
    EXPECT_DOUBLE_EQ(sim.channel(0, 0).vset, 0.0);
}

TEST_F(TcpSim, ReplyFaultsChangeOnlyTheBytesOnTheWire)
{
    const std::string req = "$BD:00,CMD:MON,PAR:BDNAME";
    sim.addFault(Fault::wrongAddress(req, 9));
    EXPECT_EQ(ask(fd, req), "#BD:09,CMD:OK,VAL:L2290\r\n");
    sim.addFault(Fault::swappedLineEnd(req));
    sendText(fd, req + "\r\n");
    EXPECT_EQ(readReply(fd, 1000, "\n\r"), "#BD:00,CMD:OK,VAL:L2290\n\r");
    sim.addFault(Fault::malformed(req, "#BD:00,CMD:OK,VAL\r\n"));
    EXPECT_EQ(ask(fd, req), "#BD:00,CMD:OK,VAL\r\n");
    sim.addFault(Fault::halfLineThenSilence(req));
    EXPECT_EQ(ask(fd, req, 300), "#BD:00,CMD:O");
    // The device still ran the set behind a wrong-address reply.
    sim.addFault(Fault::wrongAddress("PAR:VSET", 1));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,CH:0,PAR:VSET,VAL:30.0"), "#BD:01,CMD:OK\r\n");
    EXPECT_DOUBLE_EQ(sim.channel(0, 0).vset, 30.0);
}

TEST_F(TcpSim, SplitReplyArrivesInPieces)
{
    sim.addFault(Fault::split("PAR:BDNAME", 3, 150));
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNAME\r\n");
    std::string first = readChunk(fd, 1000);
    EXPECT_FALSE(first.empty());
    EXPECT_LT(first.size(), std::string("#BD:00,CMD:OK,VAL:L2290\r\n").size());
    EXPECT_EQ(first + readReply(fd, 2000), "#BD:00,CMD:OK,VAL:L2290\r\n");
}

TEST_F(TcpSim, LateReplyComesBeforeTheAnswerToTheNextRequest)
{
    sim.addFault(Fault::late("PAR:BDNAME", 500));
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNAME\r\n");
    EXPECT_EQ(readReply(fd, 100), ""); // the client gives up here
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNCH\r\n");
    std::string both = readReply(fd, 2000);
    if (both.find("VAL:4") == std::string::npos)
        both += readReply(fd, 2000);
    EXPECT_EQ(both, "#BD:00,CMD:OK,VAL:L2290\r\n#BD:00,CMD:OK,VAL:4\r\n");
}

TEST_F(TcpSim, CloseFaultDropsTheConnectionAndANewOneIsServed)
{
    sim.addFault(Fault::closeConnection("PAR:BDNCH$"));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,PAR:BDNAME"), "#BD:00,CMD:OK,VAL:L2290\r\n");
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNCH\r\n");
    bool eof = false;
    EXPECT_EQ(readChunk(fd, 2000, &eof), "");
    EXPECT_TRUE(eof);
    ::close(fd);
    fd = connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,PAR:BDNCH"), "#BD:00,CMD:OK,VAL:4\r\n");
    EXPECT_EQ(sim.connectionsAccepted(), 2);
    auto log = sim.requests();
    EXPECT_EQ(log.front().connection, 1);
    EXPECT_EQ(log.back().connection, 2);
}

TEST_F(TcpSim, FaultMatchingHonoursAnchorsAndUseCounts)
{
    sim.addFault(Fault::errorReply("PAR:RUP$", DeviceError::Par, -1));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,CH:0,PAR:RUPMAX"), "#BD:00,CMD:OK,VAL:500\r\n");
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,CH:0,PAR:RUP"), "#BD:00,PAR:ERR\r\n");
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,CH:0,PAR:RUP"), "#BD:00,PAR:ERR\r\n");
    EXPECT_EQ(sim.pendingFaults(), 1);
    sim.clearFaults();
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,CH:0,PAR:RUP"), "#BD:00,CMD:OK,VAL:050\r\n");
    EXPECT_TRUE(TextLinkSim::lineMatches("$BD:00,CMD:MON", "^$BD:00"));
    EXPECT_FALSE(TextLinkSim::lineMatches("x$BD:00,CMD:MON", "^$BD:00"));
}

TEST(L2290SimTcpStart, RefusesAddressesOutsideLoopback)
{
    L2290Sim sim;
    EXPECT_FALSE(sim.startTcp("10.0.0.1", 0));
    EXPECT_NE(sim.error().find("loopback"), std::string::npos);
    EXPECT_FALSE(sim.running());
}

int openPtySlave(const std::string &name)
{
    int fd = ::open(("/dev/" + name).c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

TEST(L2290SimPty, ExchangesOneCommandRawAndHangsUpOnDrop)
{
    L2290Sim sim({L2290Module::make(5, 8)});
    ASSERT_TRUE(sim.startPty()) << sim.error();
    std::string name = sim.ptyName();
    ASSERT_TRUE(isPtsName(name)) << name;
    int fd = openPtySlave(name);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "$BD:05,CMD:MON,PAR:BDNCH"), "#BD:05,CMD:OK,VAL:8\r\n");
    EXPECT_EQ(sim.lines(), std::vector<std::string>{"$BD:05,CMD:MON,PAR:BDNCH"});

    // Closing and reopening the port keeps the line.
    ::close(fd);
    fd = openPtySlave(name);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "$BD:05,CMD:MON,CH:0,PAR:POL"), "#BD:05,CMD:OK,VAL:+\r\n");

    sim.dropConnections();
    bool eof = false;
    readChunk(fd, 1000, &eof);
    EXPECT_TRUE(eof); // the old line is hung up
    ::close(fd);
    std::string renewed = sim.ptyName();
    ASSERT_FALSE(renewed.empty());
    fd = openPtySlave(renewed);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "$BD:05,CMD:MON,PAR:BDNAME"), "#BD:05,CMD:OK,VAL:L2290\r\n");
    ::close(fd);
    sim.stop();
}

TEST(L2290SimPty, ReportsTheLineSettingsTheClientLeft)
{
    L2290Sim sim;
    ASSERT_TRUE(sim.startPty()) << sim.error();
    PtyLineSettings ls;
    ASSERT_TRUE(sim.ptySettings(ls));
    EXPECT_FALSE(ls.raw); // as openpty made it: a client must configure the line
    int fd = openPtySlave(sim.ptyName());
    ASSERT_GE(fd, 0);
    termios t{};
    tcgetattr(fd, &t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    t.c_cflag |= CSTOPB | CRTSCTS;
    tcsetattr(fd, TCSANOW, &t);
    ASSERT_TRUE(sim.ptySettings(ls));
    EXPECT_TRUE(ls.raw);
    EXPECT_EQ(ls.baud, 19200u);
    EXPECT_EQ(ls.stopBits, 2);
    EXPECT_TRUE(ls.hardwareFlow);
    EXPECT_FALSE(ls.softwareFlow);
    // An unconfigured line mangles the request, which shows as a violation.
    cfmakeraw(&t);
    t.c_oflag |= OPOST | ONLCR;
    tcsetattr(fd, TCSANOW, &t);
    sendText(fd, "$BD:00,CMD:MON,PAR:BDNCH\r\n");
    readReply(fd, 1000);
    EXPECT_EQ(sim.violations().size(), 1u);
    ::close(fd);
    L2290Sim none;
    EXPECT_FALSE(none.ptySettings(ls));
}

using rawlink::waitExit;

TEST(L2290SimProgram, ServesTcpAndPtyUntilSigterm)
{
    {
        int out = -1;
        pid_t pid = rawlink::spawnSim({"l2290", "--port", "0", "--modules", "2", "--channels", "3"}, out);
        ASSERT_GT(pid, 0);
        std::string ready = readReply(out, 10000, "\n");
        unsigned port = 0;
        char tail[64] = {0};
        ASSERT_EQ(std::sscanf(ready.c_str(), "READY port=%u address=%63s", &port, tail), 2) << ready;
        EXPECT_STREQ(tail, "127.0.0.2");
        EXPECT_EQ(ready.back(), '\n');
        int fd = connectTo("127.0.0.2", uint16_t(port));
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ask(fd, "$BD:01,CMD:MON,PAR:BDNCH"), "#BD:01,CMD:OK,VAL:3\r\n");
        ::close(fd);
        ::kill(pid, SIGTERM);
        EXPECT_EQ(waitExit(pid), 0);
        ::close(out);
    }
    {
        int out = -1;
        pid_t pid = rawlink::spawnSim({"l2290", "--pty"}, out);
        ASSERT_GT(pid, 0);
        std::string ready = readReply(out, 10000, "\n");
        ASSERT_EQ(ready.compare(0, 10, "READY pty="), 0) << ready;
        ASSERT_EQ(ready.back(), '\n');
        std::string name = ready.substr(10, ready.size() - 11);
        ASSERT_TRUE(isPtsName(name)) << ready;
        int fd = openPtySlave(name);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,PAR:BDNAME"), "#BD:00,CMD:OK,VAL:L2290\r\n");
        ::close(fd);
        ::kill(pid, SIGINT);
        EXPECT_EQ(waitExit(pid), 0);
        ::close(out);
    }
    int out = -1;
    pid_t pid = rawlink::spawnSim({"l2290", "--modules", "zero"}, out);
    EXPECT_EQ(waitExit(pid), 2);
    ::close(out);
}

} // namespace
