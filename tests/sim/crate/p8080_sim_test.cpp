// The rack simulator over raw sockets with hand-written little-endian
// requests and a password encrypted here: if these fail, the simulator (not
// a client) is at fault.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <thread>

#include "crate/p8080_presets.h"
#include "crate/p8080_sim.h"
#include "sim_wire.h"

using namespace korusim;
using namespace simwire;
using namespace std::chrono_literals;

namespace {

P8080SimOptions quiet()
{
    P8080SimOptions o;
    o.ramp = false;
    o.keepAlivePeriod = 0ms;
    o.tickPeriod = 50ms;
    return o;
}

std::string encrypt(const std::string &pem, const std::string &password)
{
    BIO *bio = BIO_new_mem_buf(pem.data(), int(pem.size()));
    EVP_PKEY *key = PEM_read_bio_PUBKEY(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!key)
        return {};
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key, nullptr);
    std::string out;
    size_t n = 0;
    const auto *in = reinterpret_cast<const unsigned char *>(password.data());
    if (EVP_PKEY_encrypt_init(ctx) > 0 && EVP_PKEY_encrypt(ctx, nullptr, &n, in, password.size()) > 0) {
        out.resize(n);
        if (EVP_PKEY_encrypt(ctx, reinterpret_cast<unsigned char *>(out.data()), &n, in, password.size()) > 0)
            out.resize(n);
        else
            out.clear();
    }
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(key);
    return out;
}

struct LoginReply {
    int16_t status = -999;
    std::string message;
    uint32_t session = 0;
};

LoginReply login(Client &c, const std::string &user, const std::string &password)
{
    std::string r = c.ask("LOGIN:" + user + ":" + encrypt(P8080Sim::builtinPublicKeyPem(), password));
    LoginReply l;
    if (r.compare(0, 6, "LOGIN:") != 0 || r.size() < 9 || r[8] != ':')
        return l;
    l.status = int16_t(rdLe16(r, 6));
    size_t e = r.find(':', 9);
    if (e == std::string::npos || r.size() != e + 5)
        return l;
    l.message = r.substr(9, e - 9);
    l.session = rdLe32(r, e + 1);
    return l;
}

struct Reply {
    bool ok = false;
    uint32_t session = 0;
    int16_t status = -999;
    std::string data;
};

// keyword ':' session status ':' message ':' data
Reply parse(const std::string &r, const std::string &kw)
{
    Reply p;
    size_t k = kw.size();
    if (r.compare(0, k + 1, kw + ":") != 0 || r.size() < k + 9 || r[k + 7] != ':')
        return p;
    p.session = rdLe32(r, k + 1);
    p.status = int16_t(rdLe16(r, k + 5));
    size_t e = r.find(':', k + 8);
    if (e == std::string::npos)
        return p;
    p.data = r.substr(e + 1);
    p.ok = true;
    return p;
}

struct Session {
    Client c{true};
    std::string sid;
    bool open(P8080Sim &sim)
    {
        if (!c.open(sim.address(), sim.port()))
            return false;
        LoginReply l = login(c, "admin", "admin");
        sid = le32(l.session);
        return l.status == 0 && l.session != 0;
    }
    Reply ask(const std::string &kw, const std::string &fields = {})
    {
        return parse(c.ask(kw + ":" + sid + fields), kw);
    }
};

std::string item(uint16_t kind, int board, int ch, const std::string &name, bool last)
{
    std::string s = be16(kind) + ":";
    if (board >= 0)
        s += be16(uint16_t(board)) + ":";
    if (ch >= 0)
        s += be16(uint16_t(ch)) + ":";
    return s + name + (last ? std::string(1, '\0') : std::string(":"));
}

} // namespace

TEST(P8080Sim, LoginDecryptsThePassword)
{
    P8080SimOptions o = quiet();
    o.maxSessions = 1;
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.64", 0, o);
    ASSERT_TRUE(sim.start()) << sim.errorText();
    EXPECT_EQ(sim.publicKeyPem().size(), 451u);
    EXPECT_EQ(sim.publicKeyPem(), P8080Sim::builtinPublicKeyPem());

    Client c(true);
    ASSERT_TRUE(c.open(sim.address(), sim.port()));
    EXPECT_EQ(login(c, "admin", "nope").status, kP8080LoginRefused);
    EXPECT_EQ(sim.lastPassword(), "nope");
    // Not encrypted with the rack's key: refused, and noted as the client's fault.
    std::string r = c.ask("LOGIN:admin:" + std::string(256, 'x'));
    EXPECT_EQ(int16_t(rdLe16(r, 6)), kP8080LoginRefused);
    EXPECT_EQ(sim.protocolErrors().size(), 1u);
    LoginReply ok = login(c, "admin", "admin");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.session, 0x3A3A0001u);

    Client second(true);
    ASSERT_TRUE(second.open(sim.address(), sim.port()));
    EXPECT_EQ(login(second, "admin", "admin").status, kP8080ConnectionRefused);
    sim.stop();
}

TEST(P8080Sim, SystemInformationCrateMapAndComposition)
{
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.65", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));

    Reply info = s.ask("GETSYSINFO", ":" + le16(0));
    ASSERT_TRUE(info.ok);
    ASSERT_EQ(info.status, 0);
    const std::string &d = info.data;
    size_t p = 0;
    uint16_t count = rdLe16(d, p);
    ASSERT_EQ(d.at(p + 2), ':');
    p += 3;
    std::vector<std::string> names;
    std::vector<int> types;
    for (unsigned i = 0; i < count; ++i) {
        size_t e = d.find(':', p);
        ASSERT_NE(e, std::string::npos);
        names.push_back(d.substr(p, e - p));
        p = e + 1;
        int type = int8_t(d.at(p));
        types.push_back(type);
        p += 3;
        if (type == 1) {
            for (int t = 0; t < 2; ++t) {
                e = d.find(':', p);
                ASSERT_NE(e, std::string::npos);
                p = e + 1;
            }
        } else {
            p += 4 + 4 + 4 + 4 + 1 + 2;
        }
    }
    ASSERT_EQ(d.at(p), ':');
    uint16_t boards = rdLe16(d, p + 1);
    ASSERT_EQ(boards, 3);
    ASSERT_EQ(d.at(p + 3), ':');
    p += 4;
    std::vector<int> slots;
    for (unsigned b = 0; b < boards; ++b, p += 2)
        slots.push_back(int8_t(d.at(p)) + 25 * int8_t(d.at(p + 1)));
    EXPECT_EQ(slots, (std::vector<int>{0, 2, 150}));
    ASSERT_EQ(d.at(p++), ':');
    std::vector<int> channels;
    for (unsigned b = 0; b < boards; ++b, p += 2)
        channels.push_back(rdLe16(d, p));
    EXPECT_EQ(channels, (std::vector<int>{4, 2, 0}));
    ASSERT_EQ(d.at(p++), ':');
    std::vector<std::string> sysNames;
    for (unsigned b = 0; b < boards; ++b) {
        uint16_t n = rdLe16(d, p);
        p += 2;
        for (unsigned i = 0; i < n; ++i, p += 2)
            if (slots[b] == 150)
                sysNames.push_back(names.at(rdLe16(d, p)));
        ASSERT_EQ(d.at(p++), ':');
        for (int c = 0; c < channels[b]; ++c) {
            uint16_t m = rdLe16(d, p);
            p += 2 + 2 * m;
        }
    }
    EXPECT_EQ(p, d.size());
    EXPECT_EQ(sysNames, (std::vector<std::string>{"ModelName", "SwRelease", "Temp", "ACVolt", "Uptime",
                                                  "Interlock", "Alarm", "Label"}));

    // Crate map: three module slots and the controller.
    Reply map = s.ask("GETCRATEMAP");
    ASSERT_EQ(map.status, 0);
    std::string expect = std::string(1, char(4)) + ":PM804: 4 Ch Pos. 3KV 300uA :" + le32(700031) + ":" +
                         std::string{2, 5} + ":" + std::string(1, '\0') +
                         ":PM802: 2 Ch Bipolar 3KV :" + le32(700032) + ":" + std::string{2, 5} +
                         ":P8080:Rack controller:" + le32(8080001) + ":" + std::string{1, 3};
    EXPECT_EQ(map.data, expect);
    Reply comp = s.ask("GETSYSCOMP");
    EXPECT_EQ(comp.data, le16(1) + ":" + le16(4) + ":" + le32(0x10004) + le32(0) + le32(0x10002) + le32(0));
    EXPECT_TRUE(sim.protocolErrors().empty());
    sim.stop();
}

TEST(P8080Sim, ReadsWritesAndRefusals)
{
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.66", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));
    std::string chans = le16(2) + ":" + le16(0) + le16(1);
    Reply w = s.ask("SETCHPARAM", ":" + le16(0) + ":V0Set:" + le32(1234) + ":" + chans);
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(sim.channelRaw(0, 1, "V0Set"), 1234u);
    EXPECT_EQ(s.ask("GETCHPARAM", ":" + le16(0) + ":V0Set:" + chans).data, le32(1234) + le32(1234));
    EXPECT_EQ(s.ask("GETCHNAME", ":" + le16(2) + ":" + le16(1) + ":" + le16(1)).data,
              std::string("CH01\0", 5));
    EXPECT_EQ(s.ask("SETCHNAME", ":" + le16(2) + ":Anode:" + le16(1) + ":" + le16(1)).status, 0);
    EXPECT_EQ(sim.channelName(2, 1), "Anode");
    // '#' would end the name early in the event stream.
    EXPECT_EQ(s.ask("SETCHNAME", ":" + le16(2) + ":A#b:" + le16(1) + ":" + le16(1)).status, kP8080ValueRange);

    // System parameters are the pseudo-board's: a text comes back with one terminator byte.
    std::string sys = ":" + le16(1) + ":" + le16(150);
    EXPECT_EQ(s.ask("GETBDPARAM", ":Label" + sys).data, std::string("rack-sim\0", 9));
    EXPECT_EQ(s.ask("SETBDPARAM", ":Label:new name" + sys).status, 0);
    EXPECT_EQ(sim.systemText("Label"), "new name");
    EXPECT_EQ(s.ask("SETBDPARAM", ":Alarm:" + le32(uint32_t(-5)) + sys).status, 0);
    EXPECT_EQ(sim.systemRaw("Alarm"), uint32_t(-5));
    EXPECT_EQ(s.ask("GETBDPARAM", ":Temp" + sys).data, le32(312));
    EXPECT_EQ(s.ask("SETBDPARAM", ":Temp:" + le32(1) + sys).status, kP8080ReadOnly);

    EXPECT_EQ(s.ask("GETCHPARAM", ":" + le16(1) + ":V0Set:" + chans).status, kP8080SlotNotPresent);
    EXPECT_EQ(s.ask("GETCHPARAM", ":" + le16(0) + ":Nope:" + chans).status, kP8080ParamNotFound);
    EXPECT_TRUE(sim.protocolErrors().empty());
    // One byte too many: malformed, and noted.
    EXPECT_EQ(s.ask("GETCHPARAM", ":" + le16(0) + ":V0Set:" + chans + ":").status, kP8080Malformed);
    EXPECT_EQ(sim.protocolErrors().size(), 1u);
    // Another session id.
    EXPECT_EQ(parse(s.c.ask("GETSYSCOMP:" + le32(7)), "GETSYSCOMP").status, kP8080BadSession);

    // Faults: a foreign session id in the reply; a refusal.
    P8080Fault wrong;
    wrong.keyword = "GETSYSCOMP";
    wrong.action = P8080Fault::WrongSession;
    sim.addFault(wrong);
    EXPECT_NE(le32(s.ask("GETSYSCOMP").session), s.sid);
    P8080Fault refuse;
    refuse.keyword = "GETCRATEMAP";
    refuse.status = kP8080SlotNotPresent;
    sim.addFault(refuse);
    EXPECT_EQ(s.ask("GETCRATEMAP").status, kP8080SlotNotPresent);
    EXPECT_EQ(s.ask("GETCRATEMAP").status, 0);
    auto log = sim.requestsFor("GETCRATEMAP");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].body, "GETCRATEMAP:" + s.sid);
    EXPECT_EQ(log[0].declaredLength, 16u);
    sim.stop();
}

TEST(P8080Sim, EventConnectionBatchesAndKeepAlive)
{
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.67", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));
    std::string list = item(0, 0, 0, "V0Set", false) + item(0, 2, 1, "Name", false) +
                       item(2, -1, -1, "Label", false) + item(2, -1, -1, "Nothing", true);
    Reply r = s.ask("ENABLEMSG", ":" + le16(4) + ":" + list);
    ASSERT_EQ(r.status, 0);
    ASSERT_EQ(r.data.size(), 3u + 16);
    EXPECT_EQ(rdLe16(r.data, 0), sim.eventPort());
    EXPECT_EQ(rdLe32(r.data, 3), p8080Id(0, 0, 0));
    EXPECT_EQ(rdLe32(r.data, 7), p8080Id(2, 1, 0xFF));
    EXPECT_EQ(rdLe32(r.data, 11), p8080Id(150, 0xFFFF, 7));
    EXPECT_EQ(rdLe32(r.data, 15), 0xFFFFFFFFu);

    Client ev(true);
    ASSERT_TRUE(ev.open(sim.address(), sim.eventPort()));
    auto batch = ev.reply();
    ASSERT_TRUE(batch);
    std::string expect = le32(3) + ":" + le32(p8080Id(0, 0, 0)) + le32(0) + le32(p8080Id(2, 1, 0xFF)) +
                         "CH01#" + le32(p8080Id(150, 0xFFFF, 7)) + "rack-sim#";
    EXPECT_EQ(*batch, expect);

    // A keep-alive rack message; the answer is an exec frame without reply.
    sim.sendKeepAlive(5);
    batch = ev.reply();
    ASSERT_TRUE(batch);
    EXPECT_EQ(*batch, le32(1) + ":" + le32(p8080Id(151, 0xFFFF, 0)) + le32(5));
    ASSERT_TRUE(s.c.send("KEEPALIVE:" + s.sid + std::string(3, '\0')));
    EXPECT_FALSE(s.c.reply(300));
    EXPECT_EQ(sim.keepAliveAnswers(), 1);
    EXPECT_FALSE(sim.requestsFor("KEEPALIVE").at(0).replied);

    sim.addEventFault({P8080EventFault::CountTooHigh, 1, 0});
    ASSERT_TRUE(sim.setChannelRaw(0, 0, "V0Set", 77));
    batch = ev.reply();
    ASSERT_TRUE(batch);
    EXPECT_EQ(*batch, le32(6) + ":" + le32(p8080Id(0, 0, 0)) + le32(77));

    Reply off = s.ask("DISABLEMSG");
    EXPECT_TRUE(off.ok);
    EXPECT_EQ(off.status, 0);
    EXPECT_TRUE(sim.subscriptions().empty());
    ASSERT_TRUE(sim.setChannelRaw(0, 0, "V0Set", 78));
    EXPECT_FALSE(ev.reply(300));
    EXPECT_TRUE(sim.protocolErrors().empty());
    sim.stop();
}

TEST(P8080Sim, DisableReplyKeywordIsAnOption)
{
    P8080SimOptions o = quiet();
    o.disableReplyKeyword = "ENABLEMSG";
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.68", 0, o);
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));
    EXPECT_TRUE(parse(s.c.ask("DISABLEMSG:" + s.sid), "ENABLEMSG").ok);
    sim.stop();
}

TEST(P8080Sim, UnansweredKeepAliveClosesTheEventConnection)
{
    P8080SimOptions o = quiet();
    o.keepAlivePeriod = 100ms;
    o.keepAliveTimeout = 400ms;
    P8080Sim sim(P8080Model::smallRack(), "127.0.0.71", 0, o);
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));
    ASSERT_EQ(s.ask("ENABLEMSG", ":" + le16(1) + ":" + item(0, 0, 0, "VMon", true)).status, 0);
    Client ev(true);
    ASSERT_TRUE(ev.open(sim.address(), sim.eventPort()));
    ASSERT_TRUE(ev.reply()); // the current value
    std::string keepAlive = le32(1) + ":" + le32(p8080Id(151, 0xFFFF, 0)) + le32(0);
    // Answered keep-alives keep the connection.
    for (int i = 0; i < 6; ++i) {
        auto b = ev.reply();
        ASSERT_TRUE(b);
        EXPECT_EQ(*b, keepAlive);
        ASSERT_TRUE(s.c.send("KEEPALIVE:" + s.sid + std::string(3, '\0')));
    }
    EXPECT_TRUE(sim.protocolErrors().empty());
    // Unanswered: closed within the time-out.
    std::string rest;
    auto until = std::chrono::steady_clock::now() + 3s;
    bool closed = false;
    while (!closed && std::chrono::steady_clock::now() < until) {
        pollfd p{ev.fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[256];
        closed = ::recv(ev.fd, buf, sizeof buf, 0) <= 0;
    }
    EXPECT_TRUE(closed);
    EXPECT_EQ(sim.protocolErrors().size(), 1u);
    sim.stop();
}

// The shipped rack's front-panel word follows its channels and temperature
// with the rack's own bit layout (trip at bit 9, over-temperature at bit 8).
TEST(P8080Sim, RackFrontPanelWordFollowsItsModel)
{
    P8080Sim sim(P8080Model::rack(), "127.0.0.66", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    EXPECT_EQ(sim.systemRaw("FrontPanOut"), 0u);
    struct Case {
        const char *what;
        uint32_t status;
        uint32_t panel;
    } cases[] = {
        {"off", 0, 0},
        {"on", 1u << 0, 0x08},
        {"over-current", (1u << 0) | (1u << 3), 0x09},
        {"under-voltage", 1u << 5, 0x02},
        {"over-voltage", 1u << 4, 0x04},
        {"external trip", 1u << 6, 0x200},
        {"internal trip", 1u << 9, 0x200},
        {"back off", 0, 0},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(sim.setChannelRaw(3, 11, "Status", c.status));
        EXPECT_EQ(sim.systemRaw("FrontPanOut"), c.panel) << c.what;
    }
    // Two channels on two modules: the lamps gather both.
    ASSERT_TRUE(sim.setChannelRaw(0, 0, "Status", 1));
    ASSERT_TRUE(sim.setChannelRaw(1, 3, "Status", 1u << 3));
    EXPECT_EQ(sim.systemRaw("FrontPanOut"), 0x09u);
    ASSERT_TRUE(sim.setSystemRaw("Temp", 650)); // 65.0 degrees
    EXPECT_EQ(sim.systemRaw("FrontPanOut"), 0x109u);
    ASSERT_TRUE(sim.setSystemRaw("Temp", 312));
    sim.removeModule(1);
    EXPECT_EQ(sim.systemRaw("FrontPanOut"), 0x08u);
    sim.stop();

    // A preset with a fixed word keeps it whatever its channels do.
    P8080Sim fixed(techInfoRack(), "127.0.0.66", 0, quiet());
    ASSERT_TRUE(fixed.setChannelRaw(0, 0, "Status", 1));
    EXPECT_EQ(fixed.systemRaw("FrontPanOut"), 0x0301u);
}

// Switching "ACDCPwr" over the wire sets bit 0 of "ACDCStatus" and keeps its other bits.
TEST(P8080Sim, RackAcDcStatusFollowsItsSwitch)
{
    P8080Sim sim(P8080Model::rack(), "127.0.0.66", 0, quiet());
    ASSERT_TRUE(sim.start()) << sim.errorText();
    Session s;
    ASSERT_TRUE(s.open(sim));
    std::string sys = ":" + le16(1) + ":" + le16(150);
    EXPECT_EQ(sim.systemRaw("ACDCPwr"), 1u);
    EXPECT_EQ(sim.systemRaw("ACDCStatus"), 1u);
    ASSERT_TRUE(sim.setSystemRaw("ACDCStatus", 0x11));
    struct Case {
        uint32_t pwr;
        uint32_t status;
    } cases[] = {{0, 0x10}, {1, 0x11}, {1, 0x11}, {0, 0x10}};
    for (const Case &c : cases) {
        EXPECT_EQ(s.ask("SETBDPARAM", ":ACDCPwr:" + le32(c.pwr) + sys).status, 0);
        EXPECT_EQ(sim.systemRaw("ACDCStatus"), c.status) << c.pwr;
        EXPECT_EQ(s.ask("GETBDPARAM", ":ACDCStatus" + sys).data, le32(c.status));
    }
    EXPECT_EQ(s.ask("SETBDPARAM", ":ACDCPwr:" + le32(2) + sys).status, kP8080ValueRange);
    EXPECT_EQ(s.ask("SETBDPARAM", ":ACDCStatus:" + le32(1) + sys).status, kP8080ReadOnly);
    sim.stop();
}
