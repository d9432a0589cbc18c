// Family 2 through the public API against the crate simulator over
// loopback TCP: login, description, crate map, parameters, properties and
// names. Subscriptions and events: hx4400_events_simtest.cpp; faulty
// replies and the reply stream: hx4400_faults_simtest.cpp.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "KORUHVWrapper.h"
#include "crate/hx4400_backend.h"
#include "crate_sim_fixture.h"
#include "crate_test_util.h"
#include "wait_progress.h"

using namespace std::chrono_literals;
using cratetest::be16;
using cratetest::be32;
using cratetest::CrateSimTest;
using korusim::CrateFault;

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
