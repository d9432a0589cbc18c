// The crate simulator itself, driven over raw sockets with hand-written
// request bytes: if these fail, the simulator (not a client) is at fault.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "crate/crate_sim.h"
#include "sim_wire.h"

using namespace korusim;
using namespace std::chrono_literals;

namespace {

using simwire::be16;
using simwire::be32;
using simwire::Client;
using simwire::readAll;
const auto rd16 = simwire::rdBe16;
const auto rd32 = simwire::rdBe32;

// Status of a reply to a request with a session id: keyword ':' sid(4) ':' status.
int16_t status(const std::string &reply, const std::string &kw)
{
    return int16_t(rd16(reply, kw.size() + 6));
}
// Data after "keyword:sid:status:message:".
std::string dataOf(const std::string &reply, const std::string &kw)
{
    size_t msgEnd = reply.find(':', kw.size() + 9);
    return reply.substr(msgEnd + 1);
}

struct Logged {
    Client c;
    std::string sid;
    void login(CrateSim &sim)
    {
        ASSERT_TRUE(c.open(sim.address(), sim.port()));
        std::string r = c.ask("LOGINSYSTEM:admin:admin");
        ASSERT_EQ(r.substr(0, 12), "LOGINSYSTEM:");
        ASSERT_EQ(rd16(r, 12), 0);
        sid = r.substr(r.size() - 4);
    }
    std::string ask(const std::string &kw, const std::string &args, bool withArgs = true)
    {
        return c.ask(kw + ":" + sid + (withArgs ? ":" + args : std::string()));
    }
};

CrateSimOptions quiet()
{
    CrateSimOptions o;
    o.ramp = false;
    o.keepAlivePeriod = 0ms;
    return o;
}

} // namespace

TEST(CrateSim, RefusesWrongPasswordAndNumbersSessions)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.21", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Client c;
    ASSERT_TRUE(c.open(sim.address(), sim.port()));
    std::string r = c.ask("LOGINSYSTEM:admin:wrong");
    EXPECT_EQ(int16_t(rd16(r, 12)), kStatusLoginFailed);
    // Without a session every request is refused.
    r = c.ask(std::string("GETSWREL:") + be32(0x3A00003A));
    EXPECT_EQ(status(r, "GETSWREL"), kStatusBadSession);
    r = c.ask("LOGINSYSTEM:admin:admin");
    ASSERT_EQ(rd16(r, 12), 0);
    EXPECT_EQ(r.substr(14, 10), ":Login Ok:");
    EXPECT_EQ(rd32(r, 24), 0x3A00003Au);
    EXPECT_EQ(sim.activeSessions(), 1);
    // The log holds the bytes as sent, without the length.
    auto log = sim.requestsFor("LOGINSYSTEM");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].body, "LOGINSYSTEM:admin:admin");
    EXPECT_EQ(log[1].declaredLength, 23u);
    EXPECT_TRUE(sim.protocolErrors().empty());
}

TEST(CrateSim, ChannelParameterRoundTripAndSeparators)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.22", 0, quiet());
    ASSERT_TRUE(sim.start());
    Logged s;
    s.login(sim);
    // V0Set of channels 1 and 3 of slot 0 to 1234.5 V (raw 12345).
    std::string r =
        s.ask("SETCHPARAM", be16(0) + ":V0Set:" + be32(12345) + ":" + be16(2) + ":" + be16(1) + be16(3));
    EXPECT_EQ(status(r, "SETCHPARAM"), 0);
    EXPECT_EQ(sim.channelValue(0, 3, "V0Set").value_or(-1), 1234.5);
    // Read back with and without a trailing ':' after the channel list.
    for (std::string tail : {std::string(), std::string(":")}) {
        r = s.ask("GETCHPARAM", be16(0) + ":V0Set:" + be16(3) + ":" + be16(0) + be16(1) + be16(3) + tail);
        ASSERT_EQ(status(r, "GETCHPARAM"), 0) << r;
        EXPECT_EQ(dataOf(r, "GETCHPARAM"), be32(0) + be32(12345) + be32(12345));
    }
    // Separators inside the list are not the protocol.
    r = s.ask("GETCHPARAM", be16(0) + ":V0Set:" + be16(2) + ":" + be16(0) + ":" + be16(1) + ":");
    EXPECT_EQ(status(r, "GETCHPARAM"), kStatusMalformed);
    EXPECT_EQ(sim.protocolErrors().size(), 1u);
    // Limits and access.
    EXPECT_EQ(status(s.ask("SETCHPARAM", be16(0) + ":V0Set:" + be32(30001) + ":" + be16(1) + ":" + be16(0)),
                     "SETCHPARAM"),
              kStatusValueRange);
    EXPECT_EQ(status(s.ask("SETCHPARAM", be16(0) + ":VMon:" + be32(1) + ":" + be16(1) + ":" + be16(0)),
                     "SETCHPARAM"),
              kStatusReadOnly);
    EXPECT_EQ(status(s.ask("GETCHPARAM", be16(1) + ":VMon:" + be16(1) + ":" + be16(0)), "GETCHPARAM"),
              kStatusSlotEmpty);
    EXPECT_EQ(status(s.ask("GETCHPARAM", be16(0) + ":VMon:" + be16(1) + ":" + be16(4)), "GETCHPARAM"),
              kStatusChannelRange);
    // LOGOUT carries no argument: exactly keyword, ':' and the session id.
    r = s.c.ask("LOGOUT:" + s.sid);
    EXPECT_EQ(status(r, "LOGOUT"), 0);
    EXPECT_EQ(sim.activeSessions(), 0);
}

// Walks the system information as a client would and checks that the
// announced counts use up the reply exactly.
TEST(CrateSim, SystemInformationLayoutIsConsistent)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.23", 0, quiet());
    ASSERT_TRUE(sim.start());
    Logged s;
    s.login(sim);
    std::string r = s.ask("GETSYSINFO", "");
    ASSERT_EQ(status(r, "GETSYSINFO"), 0);
    std::string d = dataOf(r, "GETSYSINFO");
    size_t p = 0;
    uint16_t n = rd16(d, p);
    p += 3;
    std::vector<std::string> names;
    std::vector<uint16_t> factors;
    for (unsigned i = 0; i < n; ++i, p += 32) {
        names.push_back(d.substr(p, 10).c_str());
        factors.push_back(rd16(d, p + 24));
    }
    ASSERT_EQ(d.at(p), ':');
    uint16_t m = rd16(d, p + 1);
    p += 4;
    ASSERT_EQ(m, 2); // slots 0 and 2
    EXPECT_EQ(rd16(d, p), 0);
    EXPECT_EQ(rd16(d, p + 2), 2);
    p += 5;
    EXPECT_EQ(rd16(d, p), 4);
    EXPECT_EQ(rd16(d, p + 2), 3);
    p += 5;
    std::vector<std::vector<uint16_t>> v0set; // V0Set descriptor per channel of slot 2
    for (unsigned b = 0; b < m; ++b) {
        unsigned channels = b == 0 ? 4 : 3;
        for (unsigned level = 0; level <= channels; ++level) {
            uint16_t cnt = rd16(d, p);
            ASSERT_EQ(d.at(p + 2), ':');
            p += 3;
            for (unsigned k = 0; k < cnt; ++k) {
                uint16_t idx = rd16(d, p + 2 * k);
                ASSERT_LT(idx, n);
                if (b == 1 && level > 0 && names[idx] == "V0Set")
                    v0set.push_back({idx, factors[idx]});
            }
            p += 2 * cnt;
            ASSERT_EQ(d.at(p), ':');
            ++p;
        }
    }
    EXPECT_EQ(p, d.size());
    ASSERT_EQ(v0set.size(), 3u);
    EXPECT_EQ(v0set[0][0], v0set[2][0]);
    EXPECT_NE(v0set[0][0], v0set[1][0]); // channel 1 of slot 2 has its own descriptor
    EXPECT_EQ(v0set[1][1], 100);
}

TEST(CrateSim, EventStreamComesFromTheCrateAddress)
{
    CrateSimOptions o = quiet();
    o.keepAlivePeriod = 300ms;
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.24", 0, o);
    ASSERT_TRUE(sim.start());
    // The subscriber's event server.
    int lfd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &a.sin_addr);
    ASSERT_EQ(::bind(lfd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(lfd, 4), 0);
    socklen_t al = sizeof a;
    getsockname(lfd, reinterpret_cast<sockaddr *>(&a), &al);
    uint16_t evPort = ntohs(a.sin_port);

    Logged s;
    s.login(sim);
    sim.setChannelValue(0, 2, "VMon", 100.0);
    // One channel item (slot 0, channel 2, VMon) and one unknown parameter.
    std::string items = be16(0) + ":" + be16(0) + ":" + be16(2) + ":VMon:" + be16(0) + ":" + be16(0) + ":" +
                        be16(2) + ":Nope" + std::string(1, '\0');
    std::string r = s.ask("NEWSUBSCRIBE", be16(evPort) + ":" + be16(2) + ":" + items);
    ASSERT_EQ(status(r, "NEWSUBSCRIBE"), 0) << r;
    std::string ids = dataOf(r, "NEWSUBSCRIBE").substr(3);
    ASSERT_EQ(ids.size(), 8u);
    uint32_t id = rd32(ids, 0);
    EXPECT_EQ(id >> 24, 0u);
    EXPECT_EQ((id >> 8) & 0xFFFF, 2u);
    EXPECT_EQ(rd32(ids, 4), 0xFFFFFFFFu);

    pollfd pf{lfd, POLLIN, 0};
    ASSERT_EQ(::poll(&pf, 1, koru_test::kHangGuardMs), 1) << "no event connection";
    sockaddr_in peer{};
    socklen_t pl = sizeof peer;
    int efd = ::accept(lfd, reinterpret_cast<sockaddr *>(&peer), &pl);
    ASSERT_GE(efd, 0);
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, ip, sizeof ip);
    EXPECT_STREQ(ip, "127.0.0.24");

    auto batch = [&](std::string &body) {
        std::string h;
        if (!readAll(efd, h, 45, 3000))
            return std::string();
        EXPECT_EQ(h.substr(0, 6), "KORUHV");
        if (!readAll(efd, body, rd32(h, 41) - 45, 3000))
            return std::string();
        return h;
    };
    // First the current value, then each change.
    std::string body, h = batch(body);
    ASSERT_EQ(rd32(h, 20), 1u);
    EXPECT_EQ(uint8_t(h[24]), 1);
    EXPECT_EQ(rd32(body, 0), id);
    EXPECT_EQ(rd16(body, 4), 0);
    EXPECT_EQ(rd16(body, 6), 4);
    EXPECT_EQ(rd32(body, 8), 1000u);
    sim.setChannelValue(0, 2, "VMon", 250.5);
    h = batch(body);
    ASSERT_EQ(rd32(h, 20), 1u);
    EXPECT_EQ(rd32(body, 8), 2505u);
    // Then, with nothing to report, keep-alive messages (board 254, slot 0).
    h = batch(body);
    ASSERT_EQ(rd32(h, 20), 1u);
    EXPECT_EQ(rd32(body, 0) >> 24, 254u);
    EXPECT_EQ(rd32(body, 0) & 0xFF, 0u);
    EXPECT_EQ(rd16(body, 6), 2);
    // Logging out ends the stream.
    s.c.ask("LOGOUT:" + s.sid);
    std::string rest;
    EXPECT_FALSE(readAll(efd, rest, 1, 3000));
    ::close(efd);
    ::close(lfd);
}

TEST(CrateSim, FaultKnobsShapeTheReply)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.25", 0, quiet());
    ASSERT_TRUE(sim.start());
    Logged s;
    s.login(sim);
    CrateFault split;
    split.keyword = "GETSWREL";
    split.action = CrateFault::SplitLength;
    split.delay = 50ms;
    sim.addFault(split);
    std::string r = s.ask("GETSWREL", "", false);
    EXPECT_EQ(dataOf(r, "GETSWREL"), "3.1.2");
    CrateFault refuse;
    refuse.keyword = "GETSWREL";
    refuse.status = 77;
    sim.addFault(refuse);
    EXPECT_EQ(status(s.ask("GETSWREL", "", false), "GETSWREL"), 77);
    CrateFault close;
    close.action = CrateFault::Close;
    sim.addFault(close);
    ASSERT_TRUE(s.c.send("GETSWREL:" + s.sid));
    EXPECT_FALSE(s.c.reply(2000).has_value());
    EXPECT_EQ(sim.activeSessions(), 0);
}

// The wire journal (KORU_SIM_JOURNAL) that compares two builds' wires: every
// request as it came and the bytes that went back, whole even when a fault
// sent them in pieces, and why nothing went back.
TEST(CrateSim, WireJournalKeepsEveryRequestAndWhatWentBack)
{
    char path[] = "/tmp/koru-crate-journal-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        ASSERT_EQ(::setenv("KORU_SIM_JOURNAL", path, 1), 0);
        CrateSim sim(CrateModel::smallCrate(), "127.0.0.28", 0, quiet());
        ::unsetenv("KORU_SIM_JOURNAL"); // read as the simulator is made
        ASSERT_TRUE(sim.start());
        Logged s;
        s.login(sim);
        CrateFault split;
        split.keyword = "GETSWREL";
        split.action = CrateFault::SplitReply;
        split.chunk = 3;
        sim.addFault(split);
        EXPECT_EQ(dataOf(s.ask("GETSWREL", "", false), "GETSWREL"), "3.1.2");
        CrateFault close;
        close.action = CrateFault::Close;
        sim.addFault(close);
        ASSERT_TRUE(s.c.send("GETSWREL:" + s.sid));
        EXPECT_FALSE(s.c.reply(2000).has_value());
    }
    std::string text;
    if (FILE *f = std::fopen(path, "r")) {
        char buf[4096];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            text.append(buf, n);
        std::fclose(f);
    }
    ::unlink(path);
    // The session 0x3A00003A; the reply of 33 bytes announces "!" (0x21).
    const std::string sid = ":\\x00\\x00:";
    const std::string expected = "== crate, current generation\n"
                                 "1 > \\x00\\x00\\x00\\x17LOGINSYSTEM:admin:admin\n"
                                 "  < \\x00\\x00\\x00\\x1CLOGINSYSTEM:\\x00\\x00:Login Ok:" +
                                 sid +
                                 "\n"
                                 "1 > \\x00\\x00\\x00\\x0DGETSWREL:" +
                                 sid +
                                 "\n"
                                 "  < \\x00\\x00\\x00!GETSWREL:" +
                                 sid +
                                 ":\\x00\\x00:Command Ok:3.1.2\n"
                                 "1 > \\x00\\x00\\x00\\x0DGETSWREL:" +
                                 sid +
                                 "\n"
                                 "  < \n"
                                 "  ! closed\n";
    EXPECT_EQ(text, expected);
}

// Every request as the command tables lay it out, once as written there and
// once with a ':' after the last field: the crate takes both forms.
TEST(CrateSim, AcceptsRequestsWithAndWithoutFinalSeparator)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.26", 0, quiet());
    ASSERT_TRUE(sim.start());
    Logged s;
    s.login(sim);
    struct Case {
        const char *kw;
        std::string args; // after the header's ':'; empty with hasArgs false: no ':' after the session
        bool hasArgs;
    };
    const std::string nul(1, '\0');
    const Case cases[] = {
        {"GETSYSINFO", "", true},
        {"GETCRATEMAP", "", false},
        {"GETSYSCOMP", "", false},
        {"GETSWREL", "", false},
        {"TSTBDPRES", be16(2), true},
        {"GETBDPARAM", "Temp:" + be16(2) + ":" + be16(0) + be16(2), true},
        {"SETBDPARAM", be16(0) + ":IntlkMode:" + be32(1), true},
        {"GETCHNAME", be16(0) + ":" + be16(2) + ":" + be16(0) + be16(1), true},
        {"SETCHNAME", be16(0) + ":ABC:" + be16(1) + ":" + be16(1), true},
        {"SETCHPARAM", be16(2) + ":RUp:" + be32(20) + ":" + be16(2) + ":" + be16(0) + be16(1), true},
        {"SETGENCFG", std::string{0, ':', 1}, true},
        {"SETOUTPUTLEVEL", be16(1), true},
        {"SETDUMMY", be32(0x12345678) + be32(0), true},
        {"SETSYSNAME", "crate-b", true},
        {"KILL_1", "", false},
        {"CLRALARM_2", "", false},
    };
    for (const Case &c : cases) {
        for (bool colon : {false, true}) {
            std::string body = std::string(c.kw) + ":" + s.sid + (c.hasArgs ? ":" + c.args : "");
            if (c.hasArgs && c.args.empty()) {
                if (!colon)
                    body.pop_back(); // "GETSYSINFO": ':' after the session or nothing
            } else if (colon) {
                body += ":";
            }
            std::string r = s.c.ask(body);
            EXPECT_EQ(status(r, c.kw), 0) << c.kw << (colon ? " with" : " without") << " final ':'";
        }
    }
    // The subscription list ends with a NUL in place of its last ':', or with the ':'.
    for (const std::string &end : {nul, std::string(":")}) {
        std::string r =
            s.ask("NEWSUBSCRIBE", be16(4999) + ":" + be16(1) + ":" + be16(1) + ":" + be16(0) + ":Temp" + end);
        ASSERT_EQ(status(r, "NEWSUBSCRIBE"), 0);
        uint32_t id = rd32(dataOf(r, "NEWSUBSCRIBE"), 3);
        EXPECT_EQ(id, 0x00FFFF02u); // board 0, board item, its third board parameter
        r = s.ask("NEWUNSUBSCRIBE", be16(4999) + ":" + be16(1) + ":" + be32(id) + end);
        EXPECT_EQ(status(r, "NEWUNSUBSCRIBE"), 0);
        EXPECT_TRUE(sim.subscriptions().empty());
    }
    EXPECT_EQ(sim.channelName(0, 1).value_or(""), "ABC");
    EXPECT_EQ(sim.sysProp("DummyReg").value_or(""), be32(0x12345678));
    EXPECT_EQ(sim.sysProp("GenSignCfg").value_or(""), std::string(1, '\1'));
    EXPECT_EQ(dataOf(s.ask("GETSYSNAME", "", false), "GETSYSNAME"), "HX4400,crate-b");
    EXPECT_TRUE(sim.protocolErrors().empty()) << sim.protocolErrors().front();
}

TEST(CrateSim, RampFollowsSetValueAndKillStopsIt)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.27", 0, quiet()); // ramps only on tickNow
    ASSERT_TRUE(sim.start());
    sim.setChannelValue(0, 1, "V0Set", 20.0);
    sim.setChannelValue(0, 1, "RUp", 50.0); // 5 V per 100 ms tick
    sim.setChannelRaw(0, 1, "Pw", 1);
    sim.tickNow();
    EXPECT_DOUBLE_EQ(sim.channelValue(0, 1, "VMon").value(), 5.0);
    EXPECT_EQ(sim.channelRaw(0, 1, "Status").value(), 0x3u); // on, ramping up
    for (int i = 0; i < 5; ++i)
        sim.tickNow();
    EXPECT_DOUBLE_EQ(sim.channelValue(0, 1, "VMon").value(), 20.0);
    EXPECT_EQ(sim.channelRaw(0, 1, "Status").value(), 0x1u);
    EXPECT_GT(sim.channelValue(0, 1, "IMon").value(), 0.0);
    EXPECT_DOUBLE_EQ(sim.channelValue(0, 0, "VMon").value(), 0.0); // other channels stay off
    Logged s;
    s.login(sim);
    EXPECT_EQ(status(s.c.ask("KILL_2:" + s.sid), "KILL_2"), 0);
    EXPECT_EQ(sim.channelRaw(0, 1, "Pw").value(), 0u);
    EXPECT_DOUBLE_EQ(sim.channelValue(0, 1, "VMon").value(), 0.0);
}
