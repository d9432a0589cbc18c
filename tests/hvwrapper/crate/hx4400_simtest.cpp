// Family 2 through the public API against the crate simulator over
// loopback TCP: login, description, parameters, properties, names,
// subscriptions, events, malformed replies and the reused handle.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/crate_sim.h"
#include "crate/crate_transport.h"
#include "crate/hx4400_backend.h"
#include "crate_test_util.h"
#include "fault_proxy.h"
#include "wait_progress.h"

using namespace std::chrono_literals;
using korusim::CrateFault;
using korusim::CrateModel;
using korusim::CrateSim;

namespace {

std::string be16(uint16_t v)
{
    return std::string{char(v >> 8), char(v)};
}
std::string be32(uint32_t v)
{
    return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
}

// Event server of the test on 127.0.0.1 (the crate connects back to it).
struct EventServer {
    int listenFd = -1;
    uint16_t port = 0;
    std::vector<int> accepted;
    EventServer()
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(listenFd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(listenFd, 8), 0);
        socklen_t l = sizeof a;
        ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&a), &l);
        port = ntohs(a.sin_port);
    }
    ~EventServer()
    {
        for (int f : accepted)
            ::close(f);
        ::close(listenFd);
    }
    int accept(int ms = koru_test::kHangGuardMs)
    {
        pollfd p{listenFd, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1)
            return -1;
        int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd >= 0)
            accepted.push_back(fd);
        return fd;
    }
};

// Reads batches until one holds a record named `name` (bounded).
bool waitRecord(int sock, const char *name, EventRecord *out, float value = NAN, int maxBatches = 40)
{
    for (int i = 0; i < maxBatches; ++i) {
        KORUHV_SYSTEMSTATUS_t st{};
        EventRecord *ev = nullptr;
        int n = 0;
        int rc = KORUHV_GetEventData(sock, &st, &ev, &n);
        if (rc != 0)
            return false;
        for (int k = 0; k < n; ++k)
            if (std::strcmp(ev[k].name, name) == 0 &&
                (std::isnan(value) || ev[k].value.FloatValue == value)) {
                *out = ev[k];
                KORUHV_FreeEventData(&ev);
                return true;
            }
        KORUHV_FreeEventData(&ev);
    }
    return false;
}

class CrateSimTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        koruhv::CrateTransport_SetTimeoutsForTest(0, 0);
        ASSERT_TRUE(sim.start()) << sim.errorText();
        koruhv::CrateTransport_SetPortForTest(sim.port());
    }
    void TearDown() override
    {
        if (handle >= 0)
            KORUHV_DeinitSystem(handle);
        koruhv::CrateTransport_SetTimeoutsForTest(0, 0);
        koruhv::CrateTransport_SetPortForTest(0);
        EXPECT_TRUE(sim.protocolErrors().empty()) << sim.protocolErrors().front();
        sim.stop();
    }
    int open(const char *user = "admin", const char *password = "admin")
    {
        return KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.2"), user, password, &handle);
    }
    // The program's order before it subscribes: crate map, then parameter lists.
    void buildTree()
    {
        unsigned short n = 0, *counts = nullptr;
        char *models = nullptr, *descs = nullptr;
        unsigned *serials = nullptr;
        unsigned char *mi = nullptr, *ma = nullptr;
        ASSERT_EQ(KORUHV_GetCrateMap(handle, &n, &counts, &models, &descs, &serials, &mi, &ma), 0);
        for (unsigned short s = 0; s < n; ++s)
            for (unsigned short c = 0; c < counts[s]; ++c) {
                char *names = nullptr;
                int count = 0;
                ASSERT_EQ(KORUHV_GetChParamInfo(handle, s, c, &names, &count), 0);
                KORUHV_Free(names);
            }
        for (void *p :
             {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
            KORUHV_Free(p);
    }
    std::vector<std::string> keywords() const
    {
        std::vector<std::string> k;
        for (const korusim::CrateRequest &r : sim.requests())
            k.push_back(r.keyword);
        return k;
    }

    static korusim::CrateSimOptions quiet()
    {
        korusim::CrateSimOptions o;
        o.ramp = false; // values change only when a test sets them
        return o;
    }
    CrateSim sim{CrateModel::smallCrate(), "127.0.0.2", 0, quiet()};
    int handle = -1;
};

} // namespace

TEST_F(CrateSimTest, LoginRequestBytes)
{
    struct Case {
        const char *user, *password;
        std::string body;
    };
    const Case cases[] = {
        {"abcde", "xyz", "LOGINSYSTEM:abcde:xyz"},
        {"abcde", "", "LOGINSYSTEM:abcde:"},
    };
    for (const Case &c : cases) {
        sim.setCredentials(c.user, c.password);
        sim.clearRequests();
        ASSERT_EQ(open(c.user, c.password), 0) << c.body;
        std::vector<korusim::CrateRequest> r = sim.requests();
        ASSERT_GE(r.size(), 2u);
        EXPECT_EQ(r[0].body, c.body);
        EXPECT_EQ(r[1].keyword, "GETSYSINFO");
        EXPECT_EQ(KORUHV_DeinitSystem(handle), 0);
        handle = -1;
        EXPECT_EQ(keywords().back(), "LOGOUT");
    }
    EXPECT_EQ(std::string(cases[0].body).size(), 21u);
}

TEST_F(CrateSimTest, RefusedLoginSendsNothingMore)
{
    EXPECT_EQ(open("admin", "wrong"), KORUHV_ERR_LOGIN_REFUSED);
    EXPECT_EQ(handle, -1);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(keywords(), std::vector<std::string>{"LOGINSYSTEM"});
    EXPECT_TRUE(koru_test::waitFor([&] { return sim.activeSessions() == 0; }))
        << sim.activeSessions() << " sessions still open";
}

TEST_F(CrateSimTest, DescriptionFailureGivesOpenFailedWithoutLogout)
{
    struct Case {
        CrateFault::Action action;
        size_t bytes;
    };
    for (Case c : {Case{CrateFault::Refuse, 0}, Case{CrateFault::CutData, 40}}) {
        sim.clearRequests();
        CrateFault f;
        f.keyword = "GETSYSINFO";
        f.action = c.action;
        f.bytes = c.bytes;
        sim.addFault(f);
        EXPECT_EQ(open(), KORUHV_ERR_OPEN_FAILED);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(keywords(), (std::vector<std::string>{"LOGINSYSTEM", "GETSYSINFO"}));
    }
}

TEST_F(CrateSimTest, NoCrateListening)
{
    sim.stop();
    EXPECT_EQ(open(), KORUHV_ERR_OPEN_FAILED);
}

TEST_F(CrateSimTest, CrateMap)
{
    ASSERT_EQ(open(), 0);
    unsigned short n = 0, *counts = nullptr;
    char *models = nullptr, *descs = nullptr;
    unsigned *serials = nullptr;
    unsigned char *mi = nullptr, *ma = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(handle, &n, &counts, &models, &descs, &serials, &mi, &ma), 0);
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::vector<unsigned>(counts, counts + 4), (std::vector<unsigned>{4, 0, 3, 0}));
    EXPECT_EQ(std::string(models, 16), std::string("HB3004\0\0HB3003\0\0", 16));
    EXPECT_EQ(std::string(descs), " 4 Ch Pos. 3KV 300uA ");
    EXPECT_EQ(serials[0], 0x10000u + 11); // the 32-bit tail replaces the record's 16-bit number
    EXPECT_EQ(serials[1], 0u);
    EXPECT_EQ(ma[0], 2);
    EXPECT_EQ(mi[0], 5);
    EXPECT_EQ(mi[1], 0);
    for (void *p : {(void *)counts, (void *)models, (void *)descs, (void *)serials, (void *)mi, (void *)ma})
        KORUHV_Free(p);
    char *model = nullptr, *desc = nullptr;
    unsigned short chans = 0, serial = 0;
    unsigned char fmi = 0, fma = 0;
    ASSERT_EQ(KORUHV_TestBdPresence(handle, 2, &chans, &model, &desc, &serial, &fmi, &fma), 0);
    EXPECT_STREQ(model, "HB3003");
    EXPECT_EQ(chans, 3);
    EXPECT_EQ(serial, 12);
    KORUHV_Free(model);
    KORUHV_Free(desc);
}

TEST_F(CrateSimTest, ChannelParameterRoundTrips)
{
    ASSERT_EQ(open(), 0);
    const unsigned short all[] = {0, 1, 2, 3};
    // Numeric: one request for channels sharing a descriptor; the value
    // actually sent (0.1 V steps) is handed back.
    float v = 123.46f;
    sim.clearRequests();
    ASSERT_EQ(KORUHV_SetChParam(handle, 0, "V0Set", 4, all, &v), 0);
    EXPECT_FLOAT_EQ(v, 123.5f);
    EXPECT_EQ(sim.requestsFor("SETCHPARAM").size(), 1u);
    float got[4] = {};
    ASSERT_EQ(KORUHV_GetChParam(handle, 0, "V0Set", 4, all, got), 0);
    for (float g : got)
        EXPECT_FLOAT_EQ(g, 123.5f);
    // Slot 2: channel 1 has its own V0Set descriptor: two requests, 0 then 1.
    sim.clearRequests();
    const unsigned short two[] = {1, 0};
    v = 10.123f;
    ASSERT_EQ(KORUHV_SetChParam(handle, 2, "V0Set", 2, two, &v), 0);
    ASSERT_EQ(sim.requestsFor("SETCHPARAM").size(), 2u);
    EXPECT_NEAR(*sim.channelValue(2, 1, "V0Set"), 10.12, 1e-6);
    EXPECT_NEAR(*sim.channelValue(2, 0, "V0Set"), 10.1, 1e-6);
    // On/off and a channel status word.
    uint32_t on = 1, pw[4] = {}, status[4] = {9, 9, 9, 9};
    ASSERT_EQ(KORUHV_SetChParam(handle, 0, "Pw", 4, all, &on), 0);
    ASSERT_EQ(KORUHV_GetChParam(handle, 0, "Pw", 4, all, pw), 0);
    EXPECT_EQ(pw[3], 1u);
    sim.setChannelRaw(0, 2, "Status", 0x41);
    ASSERT_EQ(KORUHV_GetChParam(handle, 0, "Status", 4, all, status), 0);
    EXPECT_EQ(status[2], 0x41u);
    // A status word has no raw form for writing: refused, nothing sent.
    sim.clearRequests();
    EXPECT_EQ(KORUHV_SetChParam(handle, 0, "Status", 1, all, &on), 18);
    EXPECT_TRUE(sim.requestsFor("SETCHPARAM").empty());
    // Lookups against the description.
    const unsigned short bad[] = {4};
    EXPECT_EQ(KORUHV_SetChParam(handle, 0, "V0Set", 1, bad, &v), 10);
    EXPECT_STREQ(KORUHV_GetError(handle), "Value out of range");
    EXPECT_EQ(KORUHV_GetChParam(handle, 0, "Nope", 1, all, got), 107); // the crate's own status
    EXPECT_EQ(KORUHV_SetChParam(handle, 1, "V0Set", 1, all, &v), 20);
    EXPECT_STREQ(KORUHV_GetError(handle), "System configuration is change");
}

TEST_F(CrateSimTest, BoardParameters)
{
    ASSERT_EQ(open(), 0);
    const unsigned short slots[] = {0, 2};
    float temp[2] = {};
    ASSERT_EQ(KORUHV_GetBdParam(handle, 2, slots, "Temp", temp), 0);
    EXPECT_FLOAT_EQ(temp[0], 32.5f);
    sim.setBoardRaw(2, "BdStatus", 0x12);
    uint32_t bd[2] = {};
    ASSERT_EQ(KORUHV_GetBdParam(handle, 2, slots, "BdStatus", bd), 0);
    EXPECT_EQ(bd[1], 0x12u);
    const unsigned short missing[] = {0, 1};
    EXPECT_EQ(KORUHV_GetBdParam(handle, 2, missing, "Temp", temp), 105); // the crate's own status
    sim.clearRequests();
    uint32_t w = 5;
    EXPECT_EQ(KORUHV_SetBdParam(handle, 1, slots, "BdStatus", &w), 18);
    EXPECT_TRUE(sim.requestsFor("SETBDPARAM").empty());
}

TEST_F(CrateSimTest, ParameterInformationAndProperties)
{
    ASSERT_EQ(open(), 0);
    char *names = nullptr;
    int count = 0;
    ASSERT_EQ(KORUHV_GetChParamInfo(handle, 0, 3, &names, &count), 0);
    ASSERT_EQ(count, 12);
    EXPECT_STREQ(names, "V0Set");
    EXPECT_STREQ(names + 8 * 10, "Pw");
    EXPECT_EQ(names[12 * 10], '\0');
    KORUHV_Free(names);
    names = nullptr;
    EXPECT_EQ(KORUHV_GetChParamInfo(handle, 0, 4, &names, &count), 10);
    ASSERT_EQ(KORUHV_GetBdParamInfo(handle, 0, &names), 0);
    std::vector<std::string> cells;
    for (const char *c = names; *c; c += 10)
        cells.emplace_back(c, strnlen(c, 10));
    EXPECT_EQ(cells.at(2), "Temp");
    KORUHV_Free(names);
    names = nullptr;
    EXPECT_EQ(KORUHV_GetBdParamInfo(handle, 1, &names), 7);
    EXPECT_STREQ(KORUHV_GetError(handle), "Slot NOT Present");

    struct Case {
        const char *param, *prop;
        int rc;
        double number; // for numeric answers
        const char *text;
    };
    const Case cases[] = {
        {"V0Set", "Type", 0, 0, nullptr},    {"V0Set", "Mode", 0, 2, nullptr},
        {"VMon", "Mode", 0, 0, nullptr},     {"V0Set", "Maxval", 0, 3000, nullptr},
        {"I0Set", "Exp", 0, -6, nullptr},    {"V0Set", "Unit", 0, 2, nullptr},
        {"Pw", "Onstate", 0, 0, "On"},       {"POn", "Offstate", 0, 0, "Disable"},
        {"V0Set", "Decimal", 0, 1, nullptr}, {"V0Set", "Colour", 21, 0, nullptr},
        {"Nope", "Type", 22, 0, nullptr},
    };
    for (const Case &c : cases) {
        union {
            uint32_t u;
            int32_t i;
            int16_t s;
            float f;
            char t[16];
        } r{};
        EXPECT_EQ(KORUHV_GetChParamProp(handle, 0, 1, c.param, c.prop, &r), c.rc) << c.param << c.prop;
        if (c.rc || !c.prop)
            continue;
        std::string p = c.prop;
        if (c.text) {
            EXPECT_STREQ(r.t, c.text);
        } else if (p == "Maxval") {
            EXPECT_FLOAT_EQ(r.f, float(c.number));
        } else if (p == "Exp" || p == "Unit" || p == "Decimal") {
            EXPECT_EQ(r.s, int16_t(c.number)) << p;
        } else {
            EXPECT_EQ(r.i, int32_t(c.number)) << p;
        }
    }
    float f = 0;
    EXPECT_EQ(KORUHV_GetChParamProp(handle, 0, 4, "V0Set", "Type", &f), 10);
    EXPECT_EQ(KORUHV_GetBdParamProp(handle, 0, "Temp", "Minval", &f), 0);
    EXPECT_FLOAT_EQ(f, -40.0f);
}

TEST_F(CrateSimTest, ChannelNames)
{
    ASSERT_EQ(open(), 0);
    const unsigned short chans[] = {0, 3};
    ASSERT_EQ(KORUHV_SetChName(handle, 0, 1, chans + 1, "a-name-longer-than-eleven"), 0);
    char names[2][KORUHV_CHANNEL_NAME_SIZE];
    std::memset(names, 'x', sizeof names);
    ASSERT_EQ(KORUHV_GetChName(handle, 0, 2, chans, names), 0);
    EXPECT_STREQ(names[0], "CH00");
    EXPECT_STREQ(names[1], "a-name-long"); // cut to 11 characters
    std::string tooLong(256, 'n');
    sim.clearRequests();
    EXPECT_EQ(KORUHV_SetChName(handle, 0, 1, chans, tooLong.c_str()), 10);
    EXPECT_TRUE(sim.requestsFor("SETCHNAME").empty());
}

TEST_F(CrateSimTest, SystemPropertyReads)
{
    ASSERT_EQ(open(), 0);
    struct Case {
        const char *name;
        int rc;
        const char *text; // text answers
        long number;      // numeric answers
        int width;        // 2 or 4 bytes; 0 for text
    };
    const Case cases[] = {
        {"ModelName", 0, "HX4400", 0, 0},
        {"SymbolicName", 0, "crate-sim", 0, 0},
        {"SwRelease", 0, "3.1.2", 0, 0},
        {"HvPwSM", 0, "5:7:J7740:J7750:0", 0, 0},
        {"HVFanStat", 0, "1:2400:1:2450:1:2370", 0, 0}, /* every fan turns */
        {"HVClkConf", 0, "0:1", 0, 0},
        {"ClkFreq", 0, nullptr, 40, 2},
        {"FrontPanIn", 0, nullptr, 3, 2},
        {"DummyReg", 0, nullptr, 0, 4},
        {"Kill", 17, nullptr, 0, 0},
        {"Nothing", 14, nullptr, 0, 0},
        {"NoSuchThing", 14, nullptr, 0, 0},
    };
    for (const Case &c : cases) {
        char buf[koruhv::kSysPropTextSize] = {};
        EXPECT_EQ(KORUHV_GetSysProp(handle, c.name, buf), c.rc) << c.name;
        if (c.rc)
            continue;
        if (c.text) {
            EXPECT_STREQ(buf, c.text) << c.name;
        } else if (c.width == 2) {
            int16_t v;
            std::memcpy(&v, buf, 2);
            EXPECT_EQ(v, c.number) << c.name;
        } else {
            uint32_t v;
            std::memcpy(&v, buf, 4);
            EXPECT_EQ(long(v), c.number) << c.name;
        }
    }
    // "ResFlag" is answered without traffic.
    sim.clearRequests();
    uint16_t rf = 9;
    EXPECT_EQ(KORUHV_GetSysProp(handle, "ResFlag", &rf), 0);
    EXPECT_EQ(rf, 0);
    EXPECT_TRUE(sim.requests().empty());
    char sessions[koruhv::kSysPropTextSize] = {};
    EXPECT_EQ(KORUHV_GetSysProp(handle, "Sessions", sessions), 0);
    EXPECT_NE(std::strchr(sessions, ';'), nullptr);
    // Information and lists.
    unsigned mode = 9, type = 9;
    EXPECT_EQ(KORUHV_GetSysPropInfo(handle, "ClkFreq", &mode, &type), 0);
    EXPECT_EQ(mode, 0u);
    EXPECT_EQ(type, 4u);
    EXPECT_EQ(KORUHV_GetSysPropInfo(handle, "LowFanEnable", &mode, &type), 0);
    EXPECT_EQ(mode, 2u);
    EXPECT_EQ(type, 3u);
    EXPECT_EQ(KORUHV_GetSysPropInfo(handle, "Kill", &mode, &type), 16);
    unsigned short n = 0;
    char *names = nullptr;
    ASSERT_EQ(KORUHV_GetSysPropList(handle, &n, &names), 0);
    EXPECT_EQ(n, 29);
    EXPECT_STREQ(names, "Sessions");
    KORUHV_Free(names);
    ASSERT_EQ(KORUHV_GetExecCommList(handle, &n, &names), 0);
    EXPECT_EQ(n, 5);
    EXPECT_STREQ(names + 5, "ClearAlarm");
    KORUHV_Free(names);
}

TEST_F(CrateSimTest, SystemPropertyWritesAndCommands)
{
    ASSERT_EQ(open(), 0);
    struct Case {
        const char *name;
        std::string value; // bytes the caller passes
        int rc;
        std::string tail; // expected value bytes at the end of the request
    };
    const std::string s = std::string(1, '\0');
    const Case cases[] = {
        {"OutputLevel", std::string("\x03\x00", 2), 0, be16(1)},
        {"GenSignCfg", std::string("\x02\x01", 2), 0, std::string("\x01:\x02", 3)},
        {"HVFanSpeed", std::string("\x02\x00", 2), 0, be16(2)},
        {"HVClkConf", "1" + s, 0, be16(1)},
        {"SymbolicName", "rack-7" + s, 0, "rack-7"},
        {"DummyReg", std::string("\x04\x03\x02\x01", 4), 0, be32(0x01020304) + be32(0)},
        {"ModelName", "x" + s, 18, ""},
        {"Kill", "x" + s, 18, ""},
    };
    for (const Case &c : cases) {
        sim.clearRequests();
        std::string v = c.value;
        EXPECT_EQ(KORUHV_SetSysProp(handle, c.name, v.data()), c.rc) << c.name;
        if (c.rc)
            continue;
        std::vector<korusim::CrateRequest> r = sim.requests();
        ASSERT_EQ(r.size(), 1u) << c.name;
        ASSERT_GE(r[0].body.size(), c.tail.size());
        EXPECT_EQ(r[0].body.substr(r[0].body.size() - c.tail.size()), c.tail) << c.name;
        EXPECT_EQ(r[0].status, 0) << c.name;
    }
    char name[koruhv::kSysPropTextSize];
    ASSERT_EQ(KORUHV_GetSysProp(handle, "SymbolicName", name), 0);
    EXPECT_STREQ(name, "rack-7");
    // Commands.
    sim.clearRequests();
    EXPECT_EQ(KORUHV_ExecComm(handle, "Kill"), 0);
    EXPECT_EQ(keywords(), (std::vector<std::string>{"KILL_1", "KILL_2"}));
    EXPECT_EQ(KORUHV_ExecComm(handle, "Format"), 11);
    EXPECT_STREQ(KORUHV_GetError(handle), "Execute command not yet avalaible");
    EXPECT_EQ(KORUHV_ExecComm(handle, "IPAddr"), 19);
    EXPECT_EQ(KORUHV_ExecComm(handle, "Jump"), 15);
}

TEST_F(CrateSimTest, SubscribeEventsUnsubscribe)
{
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char results[3] = {7, 7, 7};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 1, "VMon:V0Set:Nope", 3, results), 0);
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(uint8_t(results[2]), 255); // refused by the crate
    char sysResults[1] = {7};
    ASSERT_EQ(KORUHV_SubscribeSystemParams(handle, short(es.port), "HVFanStat", 1, sysResults), 0);
    EXPECT_EQ(sysResults[0], 0);
    int sock = es.accept();
    ASSERT_GE(sock, 0);
    sim.setChannelValue(0, 1, "VMon", 55.5);
    EventRecord r{};
    ASSERT_TRUE(waitRecord(sock, "VMon", &r, 55.5f));
    EXPECT_EQ(r.type, 0);
    EXPECT_EQ(r.system, handle);
    EXPECT_EQ(r.board, 0);
    EXPECT_EQ(r.channel, 1);
    EXPECT_FLOAT_EQ(r.value.FloatValue, 55.5f);
    sim.sendKeepAlive();
    ASSERT_TRUE(waitRecord(sock, "KeepAlive", &r));
    EXPECT_EQ(r.type, 2);

    // Unsubscribe: the stored id goes out, an item never stored goes as -2.
    std::vector<korusim::CrateSubscription> subs = sim.subscriptions();
    uint32_t vmonId = 0;
    for (const auto &s : subs)
        if (s.name == "VMon")
            vmonId = s.id;
    ASSERT_NE(vmonId, 0u);
    sim.clearRequests();
    char un[2] = {7, 7};
    ASSERT_EQ(KORUHV_UnSubscribeChannelParams(handle, short(es.port), 0, 1, "VMon:IMon", 2, un), 0);
    EXPECT_EQ(un[0], 0);
    EXPECT_EQ(un[1], 0);
    std::vector<korusim::CrateRequest> req = sim.requestsFor("NEWUNSUBSCRIBE");
    ASSERT_EQ(req.size(), 1u);
    std::string ids = be32(vmonId) + ":" + be32(0xFFFFFFFEu) + std::string(1, '\0');
    EXPECT_EQ(req[0].body.substr(req[0].body.size() - ids.size()), ids);
    // A VMon event that still comes is not named any more.
    korusim::EventItem it = korusim::EventItem::number(vmonId, 10);
    sim.sendEventBatch({it});
    KORUHV_SYSTEMSTATUS_t st{};
    EventRecord *ev = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetEventData(sock, &st, &ev, &n), 0);
    for (int k = 0; k < n; ++k)
        EXPECT_STRNE(ev[k].name, "VMon");
    KORUHV_FreeEventData(&ev);
}

TEST_F(CrateSimTest, MalformedAndFaultyReplies)
{
    koruhv::CrateTransport_SetTimeoutsForTest(0, 600);
    struct Case {
        const char *what;
        CrateFault fault;
        int rc;
        const char *message; // null: not checked
    };
    auto fault = [](CrateFault::Action a, size_t bytes = 0, int delayMs = 0, size_t chunk = 1) {
        CrateFault f;
        f.keyword = "GETCHPARAM";
        f.action = a;
        f.bytes = bytes;
        f.delay = std::chrono::milliseconds(delayMs);
        f.chunk = chunk;
        return f;
    };
    CrateFault refuse = fault(CrateFault::Refuse);
    refuse.status = 105;
    refuse.message = "Slot empty";
    const Case cases[] = {
        {"length in two pieces", fault(CrateFault::SplitLength, 0, 50), 0, nullptr},
        {"reply in small pieces", fault(CrateFault::SplitReply, 0, 5, 3), 0, nullptr},
        {"data shorter than the values", fault(CrateFault::CutData, 25), 3, "Malformed reply from server"},
        {"frame cut, then closed", fault(CrateFault::CutFrame, 10), 5, "KFE server down"},
        {"closed without reply", fault(CrateFault::Close), 5, "KFE server down"},
        {"never answers", fault(CrateFault::Silent), 4, "Timeout from server"},
        {"every read is bounded", fault(CrateFault::SplitReply, 0, 60, 1), 4, "Timeout from server"},
        {"length over the limit", fault(CrateFault::LengthOverride, 0x7FFFFFF0), 3,
         "Reply length out of range"},
        {"wrong keyword", fault(CrateFault::WrongKeyword), -1, nullptr},
        {"crate status", refuse, 105, "Slot empty"},
    };
    const unsigned short all[] = {0, 1, 2, 3};
    for (const Case &c : cases) {
        ASSERT_EQ(open(), 0) << c.what;
        sim.addFault(c.fault);
        float v[4] = {};
        EXPECT_EQ(KORUHV_GetChParam(handle, 0, "V0Set", 4, all, v), c.rc) << c.what;
        if (c.message) {
            EXPECT_STREQ(KORUHV_GetError(handle), c.message) << c.what;
        }
        KORUHV_DeinitSystem(handle);
        handle = -1;
        sim.clearFaults();
    }
}

TEST_F(CrateSimTest, FailedLogoutStillFreesEverything)
{
    ASSERT_EQ(open(), 0);
    CrateFault f;
    f.keyword = "LOGOUT";
    f.status = 104;
    sim.addFault(f);
    EXPECT_EQ(KORUHV_DeinitSystem(handle), 104);
    float v = 0;
    const unsigned short ch[] = {0};
    EXPECT_EQ(KORUHV_GetChParam(handle, 0, "V0Set", 1, ch, &v), KORUHV_ERR_NOT_OPEN);
    handle = -1;
    EXPECT_TRUE(koru_test::waitFor([&] { return sim.activeSessions() == 0; }))
        << "the connection was not closed";
}

TEST_F(CrateSimTest, ReusedHandleNeverDecodesWithTheFirstCratesNames)
{
    // Crate A: subscribe VMon of slot 0 channel 1, then close.
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char res[1];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 1, "VMon", 1, res), 0);
    uint32_t vmonId = sim.subscriptions().at(0).id;
    ASSERT_EQ(KORUHV_DeinitSystem(handle), 0);
    int first = handle;
    handle = -1;

    // Crate B on another address takes the same handle and subscribes only a
    // system property; an item with A's id on B's stream names nothing.
    CrateSim other(CrateModel::smallCrate(), "127.0.0.3", sim.port());
    ASSERT_TRUE(other.start()) << other.errorText();
    ASSERT_EQ(KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.3"), "admin", "admin", &handle), 0);
    EXPECT_EQ(handle, first);
    buildTree();
    ASSERT_EQ(KORUHV_SubscribeSystemParams(handle, short(es.port), "HVFanStat", 1, res), 0);
    int sock = -1;
    for (int i = 0; i < 3 && sock < 0; ++i) {
        int s = es.accept();
        sockaddr_in peer{};
        socklen_t l = sizeof peer;
        if (s >= 0 && ::getpeername(s, reinterpret_cast<sockaddr *>(&peer), &l) == 0 &&
            peer.sin_addr.s_addr == inet_addr("127.0.0.3"))
            sock = s;
    }
    ASSERT_GE(sock, 0);
    other.sendEventBatch({korusim::EventItem::number(vmonId, 99)});
    KORUHV_SYSTEMSTATUS_t st{};
    EventRecord *ev = nullptr;
    int n = 0;
    ASSERT_EQ(KORUHV_GetEventData(sock, &st, &ev, &n), 0);
    for (int k = 0; k < n; ++k)
        EXPECT_STRNE(ev[k].name, "VMon");
    KORUHV_FreeEventData(&ev);
    KORUHV_DeinitSystem(handle);
    handle = -1;
    EXPECT_TRUE(other.protocolErrors().empty());
    other.stop();
}

TEST_F(CrateSimTest, EveryReplyCutShortIsAnError)
{
    // The crate's success message is "Command Ok": the data of a reply to
    // keyword k begins k + 20 bytes in.
    struct Case {
        const char *keyword;
        size_t intoData;
        int (*call)(int h);
    };
    static char results[2];
    const Case cases[] = {
        {"GETCRATEMAP", 5,
         [](int h) {
             unsigned short n, *c = nullptr;
             char *m = nullptr, *d = nullptr;
             unsigned *s = nullptr;
             unsigned char *a = nullptr, *b = nullptr;
             return KORUHV_GetCrateMap(h, &n, &c, &m, &d, &s, &a, &b);
         }},
        {"GETCRATEMAP", 80, // inside the serial-number tail
         [](int h) {
             unsigned short n, *c = nullptr;
             char *m = nullptr, *d = nullptr;
             unsigned *s = nullptr;
             unsigned char *a = nullptr, *b = nullptr;
             return KORUHV_GetCrateMap(h, &n, &c, &m, &d, &s, &a, &b);
         }},
        {"GETSYSCOMP", 3,
         [](int h) {
             unsigned short n, *c = nullptr;
             char *m = nullptr, *d = nullptr;
             unsigned *s = nullptr;
             unsigned char *a = nullptr, *b = nullptr;
             int rc = KORUHV_GetCrateMap(h, &n, &c, &m, &d, &s, &a, &b);
             for (void *p : {(void *)m, (void *)d, (void *)s, (void *)a, (void *)b})
                 KORUHV_Free(p);
             return rc;
         }},
        {"TSTBDPRES", 4,
         [](int h) {
             unsigned short ch, serial;
             char *m = nullptr, *d = nullptr;
             unsigned char a, b;
             int rc = KORUHV_TestBdPresence(h, 0, &ch, &m, &d, &serial, &a, &b);
             KORUHV_Free(m);
             KORUHV_Free(d);
             return rc;
         }},
        {"GETSYSINFO", 40,
         [](int h) {
             unsigned short ch, serial;
             char *m = nullptr, *d = nullptr;
             unsigned char a, b;
             int rc = KORUHV_TestBdPresence(h, 0, &ch, &m, &d, &serial, &a, &b);
             KORUHV_Free(m);
             KORUHV_Free(d);
             return rc;
         }},
        {"GETCHNAME", 6,
         [](int h) {
             const unsigned short ch[] = {0, 1, 2};
             char names[3][KORUHV_CHANNEL_NAME_SIZE];
             return KORUHV_GetChName(h, 0, 3, ch, names);
         }},
        {"GETBDPARAM", 2,
         [](int h) {
             const unsigned short s[] = {0};
             float v;
             return KORUHV_GetBdParam(h, 1, s, "Temp", &v);
         }},
        {"GETHVPSM", 3,
         [](int h) {
             char t[koruhv::kSysPropTextSize];
             return KORUHV_GetSysProp(h, "HvPwSM", t);
         }},
        {"GETACTLOG", 5,
         [](int h) {
             char t[koruhv::kSysPropTextSize];
             return KORUHV_GetSysProp(h, "Sessions", t);
         }},
        {"NEWSUBSCRIBE", 5,
         [](int h) {
             results[0] = results[1] = 7;
             int rc = KORUHV_SubscribeSystemParams(h, 4400, "HVFanStat:IPAddr", 2, results);
             EXPECT_EQ(uint8_t(results[0]), 255);
             EXPECT_EQ(uint8_t(results[1]), 255);
             return rc;
         }},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(open(), 0) << c.keyword;
        CrateFault f;
        f.keyword = c.keyword;
        f.action = CrateFault::CutData;
        f.bytes = std::strlen(c.keyword) + 20 + c.intoData;
        sim.addFault(f);
        EXPECT_EQ(c.call(handle), 3) << c.keyword;
        EXPECT_STREQ(KORUHV_GetError(handle), "Malformed reply from server") << c.keyword;
        sim.clearFaults();
        KORUHV_DeinitSystem(handle);
        handle = -1;
    }
}

TEST_F(CrateSimTest, LongTextIsCutToTheBuffer)
{
    ASSERT_EQ(open(), 0);
    sim.setSysProp("SwRelease", std::string(5000, 'r'));
    std::vector<char> buf(koruhv::kSysPropTextSize + 64, 'x');
    ASSERT_EQ(KORUHV_GetSysProp(handle, "SwRelease", buf.data()), 0);
    EXPECT_EQ(std::strlen(buf.data()), koruhv::kSysPropTextSize - 1);
    EXPECT_EQ(buf[koruhv::kSysPropTextSize], 'x'); // nothing written past the buffer
    korusim::CrateBoard board = korusim::hvBoard(std::string(300, 'M'), 2, 77);
    sim.insertBoard(1, board);
    char *model = nullptr, *desc = nullptr;
    unsigned short chans = 0, serial = 0;
    unsigned char fmi = 0, fma = 0;
    ASSERT_EQ(KORUHV_TestBdPresence(handle, 1, &chans, &model, &desc, &serial, &fmi, &fma), 0);
    EXPECT_EQ(std::strlen(model), size_t(KORUHV_BOARD_TEXT_SIZE - 1));
    EXPECT_EQ(serial, 77);
    KORUHV_Free(model);
    KORUHV_Free(desc);
}

TEST_F(CrateSimTest, RefusedStoreEntryStillWritesEveryResult)
{
    ASSERT_EQ(open(), 0);
    // No crate map and no parameter list yet: the store has no slots for
    // the channel, so it refuses both items the crate accepted.
    char results[3] = {7, 7, 7};
    EXPECT_EQ(KORUHV_SubscribeChannelParams(handle, 4400, 0, 1, "VMon:V0Set", 2, results), 9);
    EXPECT_EQ(results[0], 9);
    EXPECT_EQ(results[1], 9);
    EXPECT_EQ(results[2], 7);
}

TEST_F(CrateSimTest, EventThreadBesideDescriptionRefreshes)
{
    // The event reader decodes with the store and the description while
    // the caller's thread replaces the description and changes the store.
    ASSERT_EQ(open(), 0);
    buildTree();
    EventServer es;
    char res[2];
    ASSERT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 0, "VMon:IMon", 2, res), 0);
    int sock = es.accept();
    ASSERT_GE(sock, 0);
    std::atomic<bool> done{false};
    std::atomic<int> batches{0};
    std::thread reader([&] {
        while (!done) {
            KORUHV_SYSTEMSTATUS_t st{};
            EventRecord *ev = nullptr;
            int n = 0;
            if (KORUHV_GetEventData(sock, &st, &ev, &n) != 0)
                break;
            ++batches;
            KORUHV_FreeEventData(&ev);
        }
    });
    for (int i = 0; i < 40; ++i) {
        sim.setChannelValue(0, 0, "VMon", i);
        buildTree(); // crate map: a new description, store sizing
        char r[1];
        EXPECT_EQ(KORUHV_UnSubscribeChannelParams(handle, short(es.port), 0, 0, "IMon", 1, r), 0);
        EXPECT_EQ(KORUHV_SubscribeChannelParams(handle, short(es.port), 0, 0, "IMon", 1, r), 0);
    }
    done = true;
    sim.sendKeepAlive(); // wakes the reader
    reader.join();
    EXPECT_GT(batches.load(), 0);
}

// A reply held back past the bound, one sent twice and one cut short,
// each by a proxy in front of the crate: every read after it returns its
// own channel's value, or fails, and never another request's value.
TEST_F(CrateSimTest, NoReplyIsTakenForALaterRequest)
{
    constexpr int kBoundMs = 1000;
    koruhv::CrateTransport_SetTimeoutsForTest(0, kBoundMs);
    koru_test::FaultProxy proxy(koru_test::FaultProxy::framedBigEndian, "127.0.0.2", sim.port());
    koruhv::CrateTransport_SetPortForTest(proxy.port());
    ASSERT_EQ(KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.3"), "admin", "admin", &handle), 0);
    const float volts[4] = {100, 200, 300, 400};
    for (unsigned short ch = 0; ch < 4; ++ch) {
        float v = volts[ch];
        ASSERT_EQ(KORUHV_SetChParam(handle, 0, "V0Set", 1, &ch, &v), 0);
    }
    auto read = [&](unsigned short ch, float *v) { return KORUHV_GetChParam(handle, 0, "V0Set", 1, &ch, v); };
    auto eachOwnValue = [&](const char *after) {
        for (unsigned short ch : {0, 1, 2, 3, 0}) {
            float v = -1;
            ASSERT_EQ(read(ch, &v), 0) << after << ", channel " << ch;
            EXPECT_EQ(v, volts[ch]) << after << ", channel " << ch;
        }
    };
    float v = -1;

    proxy.delayNext(kBoundMs * 3 / 2);
    EXPECT_EQ(read(3, &v), 4);
    EXPECT_STREQ(KORUHV_GetError(handle), "Timeout from server");
    eachOwnValue("a late reply");

    const int out = proxy.repliesOut();
    proxy.doubleNext();
    ASSERT_EQ(read(2, &v), 0);
    EXPECT_EQ(v, 300);
    ASSERT_TRUE(koru_test::waitFor([&] { return proxy.repliesOut() >= out + 2; }));
    eachOwnValue("a doubled reply");

    // Cut inside the data: the crate's session is gone with its connection;
    // later reads fail and return nothing.
    proxy.cutNext(20);
    EXPECT_EQ(read(1, &v), 5);
    for (unsigned short ch : {0, 1, 2, 3}) {
        v = -1;
        EXPECT_EQ(read(ch, &v), 5) << ch;
        EXPECT_EQ(v, -1) << ch;
    }
    EXPECT_STREQ(KORUHV_GetError(handle), "KFE server down");
}

// With a network's latency between library and crate, a copy of a reply
// that a proxy sends when the next request comes, or a timed-out reply it
// releases behind the resynchronisation's reply, arrives after the next
// request went out, where no look for waiting bytes can see it. Reads back
// to back: the shift the copy causes ends within kReplyCheckEvery reads (the
// first reads cannot tell the copy apart), within kReplyCheckLatest on a
// link without latency; after the late reply none is shifted.
TEST_F(CrateSimTest, AShiftOfTheReplyStreamEndsOverALatentLink)
{
    koruhv::CrateTransport_SetTimeoutsForTest(0, 1000);
    koru_test::FaultProxy proxy(koru_test::FaultProxy::framedBigEndian, "127.0.0.2", sim.port(), "127.0.0.4");
    koruhv::CrateTransport_SetPortForTest(proxy.port());
    cratetest::expectShiftsToEnd(
        proxy, 4,
        [&] {
            return KORUHV_InitSystem(2, 0, const_cast<char *>("127.0.0.4"), "admin", "admin", &handle) == 0
                       ? handle
                       : -1;
        },
        [&](int h) {
            EXPECT_EQ(KORUHV_DeinitSystem(h), 0);
            handle = -1;
        });
}
