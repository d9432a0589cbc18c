// The ZORN backend through the public API against the ZORN simulator:
// TCP-only opening and identification, the 48-instance table, lists and
// properties, the query grammar's reads, settings and commands, and events.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "grp2_support.h"
#include "modules/zorn_backend.h"
#include "modules/zorn_sim.h"

using namespace grp2test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::ZornSim;
using korusim::ZornUnit;

namespace {

constexpr int kZornType = 14;

class ZornTest : public Grp2Test {
protected:
    void SetUp() override
    {
        Grp2Test::SetUp();
        sim = std::make_unique<ZornSim>();
        ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
        koruhv::ZORN_SetTcpPortForTests(sim->port());
    }
    void TearDown() override
    {
        Grp2Test::TearDown();
        const auto v = sim->violations();
        EXPECT_TRUE(v.empty()) << v.front();
        sim->stop();
        koruhv::ZORN_SetTcpPortForTests(0);
    }

    std::unique_ptr<ZornSim> sim;
};

template <typename T> T prop(int h, const char *param, const char *name, bool board = false)
{
    T v{};
    const int rc = board ? KORUHV_GetBdParamProp(h, 0, param, name, &v)
                         : KORUHV_GetChParamProp(h, 0, 0, param, name, &v);
    EXPECT_EQ(rc, 0) << param << " " << name;
    return v;
}

} // namespace

TEST_F(ZornTest, OpensOverTcpOnlyAndDescribesTheUnit)
{
    const int h = open(kZornType, "127.0.0.2");
    open(kZornType, "127.0.0.3", kLinkUsbVcp, 4100); // the unit has no serial link
    EXPECT_EQ(sim->requestCount("BDNCH"), 0u);       // one channel, not asked

    unsigned short slots = 0, *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(channels[0], 1);
    EXPECT_STREQ(models, "ZORN-300-30");
    EXPECT_EQ(serials[0], 0u);
    EXPECT_EQ(majors[0], 2); // from "ZR:2.10.5"
    EXPECT_EQ(minors[0], 10);
    for (void *p :
         {static_cast<void *>(channels), static_cast<void *>(models), static_cast<void *>(descriptions),
          static_cast<void *>(serials), static_cast<void *>(minors), static_cast<void *>(majors)})
        KORUHV_Free(p);

    // "ClearAlarm" fills its 10-byte step; the list's final step ends it.
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetBdParamInfo(h, 0, &list), 0);
    const char *board[] = {"Loop", "IGC", "Temp", "TempIGBT", "TempHF", "UpMode"};
    for (int i = 0; i < 6; ++i)
        EXPECT_STREQ(list + 10 * i, board[i]);
    EXPECT_EQ(std::string(list + 60, 10), "ClearAlarm");
    EXPECT_EQ(list[70], '\0');
    KORUHV_Free(list);
    EXPECT_EQ(channelParams(h, 0), (std::vector<std::string>{"VSet", "VMon", "ISet", "IMon", "ISetDir",
                                                             "VSetDir", "IRamp", "VRamp", "ChStatus", "Pw"}));
    int rc = 0;
    channelParams(h, 1, &rc);
    EXPECT_EQ(rc, 10);
    unsigned short chs[] = {0, 1};
    char names[2][KORUHV_CHANNEL_NAME_SIZE] = {};
    EXPECT_EQ(KORUHV_GetChName(h, 0, 1, chs, names), 0);
    EXPECT_STREQ(names[0], "CH00");
    EXPECT_EQ(KORUHV_GetChName(h, 0, 2, chs, names), 10);

    unsigned short n = 0;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &list), 0);
    ASSERT_EQ(n, 1);
    EXPECT_STREQ(list, "ClearAlarm");
    KORUHV_Free(list);

    EXPECT_EQ(prop<float>(h, "VSet", "Maxval"), 300.0f);
    EXPECT_EQ(prop<int16_t>(h, "VSet", "Decimal"), 3);
    EXPECT_EQ(prop<int16_t>(h, "VSet", "Unit"), 2);
    EXPECT_EQ(prop<float>(h, "IRamp", "Minval"), 1.0f);
    EXPECT_EQ(prop<int16_t>(h, "IRamp", "Unit"), 12);
    EXPECT_EQ(prop<int16_t>(h, "Temp", "Unit", true), 4);
    EXPECT_EQ(prop<int16_t>(h, "IGC", "Decimal", true), 6);
    char text[128] = {};
    ASSERT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Pw", "Onstate", text), 0);
    EXPECT_STREQ(text, "On");
    ASSERT_EQ(KORUHV_GetBdParamProp(h, 0, "UpMode", "Offstate", text), 0);
    EXPECT_STREQ(text, "NORMAL");
}

TEST_F(ZornTest, QueriesSettingsAndCommands)
{
    const int h = open(kZornType, "127.0.0.2");
    ASSERT_EQ(setChFloat(h, "VSet", 0, 150.0f), 0);
    EXPECT_EQ(sim->lines("MWVR:1").back(), "MWVR:150.000000");
    EXPECT_EQ(sim->unit().vset, 150.0);
    EXPECT_EQ(getChFloat(h, "VSet", 0), 150.0f);
    sim->setMonitored(12.5, 0.625);
    EXPECT_EQ(getChFloat(h, "VMon", 0), 12.5f);
    EXPECT_EQ(getChFloat(h, "IMon", 0), 0.625f);
    sim->setTemperatures(31.5, 40.25, 38.0);
    EXPECT_EQ(getBdFloat(h, "Temp"), 31.5f);
    EXPECT_EQ(getBdFloat(h, "TempIGBT"), 40.25f);
    EXPECT_EQ(sim->lines("MRT:1").back(), "MRT:1:?");

    // The output switches with bare commands and reads from the status word.
    ASSERT_EQ(setChInt(h, "Pw", 0, 1), 0);
    EXPECT_EQ(sim->lines("MON").back(), "MON");
    EXPECT_EQ(getChInt(h, "Pw", 0), 1);
    // The status word is hexadecimal.
    sim->setExtraStatus(0xA0);
    EXPECT_EQ(getChInt(h, "ChStatus", 0), static_cast<int>(sim->unit().status()));
    EXPECT_EQ(getChInt(h, "ChStatus", 0) & 0xA1, 0xA1);
    sim->setExtraStatus(0);
    ASSERT_EQ(setChInt(h, "Pw", 0, 0), 0);
    EXPECT_EQ(sim->lines("MOFF").back(), "MOFF");
    EXPECT_EQ(getChInt(h, "Pw", 0), 0);

    ASSERT_EQ(setBdInt(h, "Loop", 1), 0);
    EXPECT_EQ(sim->lines("LOOP:").back(), "LOOP:1");
    EXPECT_EQ(getBdInt(h, "Loop"), 1); // "I"
    ASSERT_EQ(setBdInt(h, "UpMode", 1), 0);
    EXPECT_EQ(getBdInt(h, "UpMode"), 1);

    EXPECT_EQ(KORUHV_ExecComm(h, "ClearAlarm"), 0);
    EXPECT_EQ(sim->lines("MRESET").back(), "MRESET");
    EXPECT_EQ(KORUHV_ExecComm(h, "Loop"), 22);
    EXPECT_EQ(setBdInt(h, "ClearAlarm", 1), 0); // a command row set sends the command
    EXPECT_EQ(sim->requestCount("MRESET"), 2u);

    // Every slot number names the one board.
    const unsigned short slots[] = {2, 0};
    int32_t loops[2] = {-1, -1};
    ASSERT_EQ(KORUHV_GetBdParam(h, 2, slots, "Loop", loops), 0);
    EXPECT_EQ(loops[0], 1);
    EXPECT_EQ(loops[1], 1);
    int32_t loopOff = 0;
    ASSERT_EQ(KORUHV_SetBdParam(h, 1, slots, "Loop", &loopOff), 0);
    EXPECT_EQ(sim->lines("LOOP:").back(), "LOOP:0");
    // One channel write sends one request, built from the last listed value.
    const unsigned short chs[] = {0, 0};
    const float vsets[] = {20.0f, 30.0f};
    const size_t before = sim->requestCount("MWVR:");
    ASSERT_EQ(KORUHV_SetChParam(h, 0, "VSet", 2, chs, const_cast<float *>(vsets)), 0);
    EXPECT_EQ(sim->requestCount("MWVR:"), before + 1);
    EXPECT_EQ(sim->lines("MWVR:").back(), "MWVR:30.000000");
    // Properties of a name the level lacks: nothing written, 0 (10 for a slot not 0).
    int32_t type = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "VSet", "Type", &type), 0);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Loop", "Type", &type), 0);
    EXPECT_EQ(type, -1);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 1, "VSet", "Type", &type), 10);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "Loop", "Type", &type), 10);

    EXPECT_EQ(setChFloat(h, "VMon", 0, 1.0f), 3);
    EXPECT_EQ(setBdFloat(h, "IGC", 1.0f), 2);
    int rc = 0;
    getBdInt(h, "ClearAlarm", &rc);
    EXPECT_EQ(rc, 3);
    sim->setLocal(true);
    EXPECT_EQ(setChFloat(h, "VSet", 0, 10.0f), -1); // refused with #NAK: the set's own result
    EXPECT_EQ(KORUHV_ExecComm(h, "ClearAlarm"), 2);
    sim->setLocal(false);
    sim->addFault(Fault::silence("MRI:?"));
    getChFloat(h, "IMon", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(getChFloat(h, "VMon", 0), 12.5f); // the late or missing reply is not taken for this one
}

TEST_F(ZornTest, FortyEightInstancesShareOneLink)
{
    std::vector<int> hs;
    for (int i = 0; i < 48; ++i)
        hs.push_back(open(kZornType, "127.0.0.2_" + std::to_string(i)));
    open(kZornType, "127.0.0.2_48", kLinkTcp, 4100); // the table is full
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    EXPECT_EQ(getChFloat(hs.back(), "VSet", 0), 0.0f);
    for (int h : hs)
        close(h);
    EXPECT_EQ(threadCount("ZORN poll"), 0);
    const int h = open(kZornType, "127.0.0.2");
    EXPECT_EQ(getChFloat(h, "VSet", 0), 0.0f);
}

TEST_F(ZornTest, SubscribedValuesArriveAsEvents)
{
    const int h = open(kZornType, "127.0.0.2_9");
    sim->setMonitored(20.0, 1.0);
    sim->setExtraStatus(0x100 | 0xA0);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMon:Pw:ChStatus", 3), 0);
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "Temp", 1), 0);
    char r[2] = {};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, server.apiPort(), 0, 1, "VMon", 1, r), 0);
    EXPECT_EQ(static_cast<unsigned char>(r[0]), 255); // one channel only
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2_9");
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 4; });
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(find(b, "VMon", 0)->value.FloatValue, 20.0f);
    EXPECT_EQ(find(b, "Temp", -1)->value.FloatValue, 31.5f);
    EXPECT_EQ(find(b, "ChStatus", 0)->value.IntValue, static_cast<int>(sim->unit().status()));
    EXPECT_EQ(find(b, "Pw", 0)->value.IntValue, 0);

    const auto t0 = std::chrono::steady_clock::now();
    close(h);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // the margin is for a loaded machine
    EXPECT_EQ(threadCount("ZORN poll"), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
}
