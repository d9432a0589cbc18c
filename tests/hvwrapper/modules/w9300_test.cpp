// The W9300 backend against its simulator: the crate as board and channel
// 8, per-system connections, live properties, texts, commands and events.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fault_proxy.h"
#include "grp1_support.h"
#include "modules/w9300_backend.h"
#include "modules/w9300_sim.h"

using namespace grp1test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::W9300Crate;
using korusim::W9300Sim;

namespace {

class W9300Test : public FamilyTest {
protected:
    W9300Test() : FamilyTest(7, koruhv::W9300_SetTcpPortForTests) {}
    void start(int channels = 6) { startTcp(std::make_unique<W9300Sim>(W9300Crate::make(channels))); }
    W9300Sim &crate() { return static_cast<W9300Sim &>(*sim); }
};

} // namespace

TEST_F(W9300Test, IdentifiesTheCrateOnChannel8AndListsItsParameters)
{
    start(6);
    const int h = open("127.0.0.2");
    EXPECT_EQ(sim->lines("CRNAME").at(0), "$CMD:MON,CH:8,PAR:CRNAME");
    EXPECT_EQ(sim->requestCount("PAR:NUMCH"), 1u);
    unsigned short slots = 0, *counts = nullptr;
    char *models = nullptr, *descr = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &counts, &models, &descr, &serials, &minors, &majors), 0);
    EXPECT_EQ(serials[0], 9301u);
    EXPECT_EQ(majors[0], 2);
    EXPECT_EQ(minors[0], 3);
    for (void *p :
         {(void *)counts, (void *)models, (void *)descr, (void *)serials, (void *)minors, (void *)majors})
        KORUHV_Free(p);

    const std::vector<std::string> board = boardParams(h);
    ASSERT_EQ(board.size(), 21u);
    EXPECT_EQ(board.front(), "Temp");
    EXPECT_EQ(board[18], "Pw");
    EXPECT_EQ(board.back(), "ClrAlrm");
    EXPECT_EQ(channelParams(h, 5),
              (std::vector<std::string>{"Name", "VSet", "VMon", "ISet", "IMon", "Ovp", "Uvp", "Status"}));
    char names[2][KORUHV_CHANNEL_NAME_SIZE];
    const unsigned short chs[2] = {0, 5};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 2, chs, names), 0);
    EXPECT_STREQ(names[1], "CH05");
    unsigned short n = 0;
    char *cmds = nullptr;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &cmds), 0);
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(cmds, "SysRes");
    EXPECT_STREQ(cmds + 7, "ClrAlrm");
    KORUHV_Free(cmds);
}

TEST_F(W9300Test, EverySystemOverTcpHasItsOwnConnection)
{
    start();
    const int a = open("127.0.0.2");
    const int b = open("127.0.0.2_2"); // another address text for the same crate
    EXPECT_EQ(sim->connectionsAccepted(), 2);
    close(a);
    EXPECT_EQ(getBoardFloat(b, "Temp"), 28.0f); // the other one stays usable
}

TEST_F(W9300Test, SystemsOnOneSerialPortShareIt)
{
    startPty(std::make_unique<W9300Sim>(W9300Crate::make(4)));
    const int a = open(sim->ptyName() + "_9600_8_0_0_0", kLinkUsbVcp);
    const int b = open(sim->ptyName(), kLinkUsbVcp);
    close(a);
    EXPECT_FLOAT_EQ(getFloat(b, "VSet", 0), 5.0f);
}

TEST_F(W9300Test, PropertiesOfTheTableAndOfTheUnit)
{
    start();
    crate().withCrate([](W9300Crate &c) {
        c.channels[1].vmax = 7.5;
        c.channels[1].vres = 1000;
        c.channels[1].ires = 1;
    });
    const int h = open("127.0.0.2");
    float f = -1;
    int16_t s = -1;
    char text[64];
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "FanSpeed", "Maxval", &f), 0);
    EXPECT_EQ(f, 6.0f);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Maxval", &f), 21);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Unit", &s), 0);
    EXPECT_EQ(s, 4);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Pw", "Onstate", text), 0);
    EXPECT_STREQ(text, "On");
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Onstate", text), 21);
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Temp", "Decimal", &s), 21);

    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "VSet", "Maxval", &f), 0);
    EXPECT_EQ(f, 7.5f);
    EXPECT_EQ(sim->lines("PAR:VMAX").back(), "$CMD:MON,CH:1,PAR:VMAX");
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "VSet", "Decimal", &s), 0);
    EXPECT_EQ(s, 3);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "VMon", "Resol", &s), 0);
    EXPECT_EQ(s, 1000);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, "IMon", "Decimal", &s), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "ISet", "Maxval", &f), 0);
    EXPECT_EQ(f, 115.0f);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Ovp", "Minval", &f), 21);
    int32_t type = -1;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Status", "Type", &type), 0);
    EXPECT_EQ(type, 2);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 6, "VSet", "Type", &type), 10);
    // A row found in the channel's list is answered whatever the slot; a
    // name the list lacks is an unknown property (10 for another slot).
    EXPECT_EQ(KORUHV_GetChParamProp(h, 3, 0, "Status", "Type", &type), 0);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Temp", "Type", &type), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Nope", "Type", &type), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "Nope", "Type", &type), 10);
    sim->addFault(Fault::silence("PAR:VMIN"));
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "VSet", "Minval", &f), 21); // the unit did not answer
}

TEST_F(W9300Test, ReadsAndWritesOfEveryKind)
{
    start();
    const int h = open("127.0.0.2");
    // Channel values, with the table's number formats.
    ASSERT_EQ(setFloat(h, "VSet", 0, 5.5f), 0);
    EXPECT_EQ(lastRequest("PAR:VSET"), "$CMD:SET,CH:0,PAR:VSET,VAL:5.50");
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 0), 5.5f);
    EXPECT_EQ(setFloat(h, "VSet", 1, 5.5f), 2); // above the output's limit
    ASSERT_EQ(setFloat(h, "ISet", 0, 80.0f), 0);
    EXPECT_EQ(lastRequest("PAR:ISET"), "$CMD:SET,CH:0,PAR:ISET,VAL:80.0");
    EXPECT_EQ(getInt(h, "Status", 0) & 1, 0);

    // The crate's switch: ON and OFF on channel 8, read from bit 0 of CRST.
    ASSERT_EQ(setBoardInt(h, "Pw", 1), 0);
    EXPECT_EQ(lastRequest("PAR:ON"), "$CMD:SET,CH:8,PAR:ON");
    EXPECT_EQ(getBoardInt(h, "Pw"), 1);
    EXPECT_EQ(lastRequest("CRST"), "$CMD:MON,CH:8,PAR:CRST");
    ASSERT_EQ(setBoardInt(h, "Pw", 0), 0);
    EXPECT_EQ(lastRequest("PAR:OFF"), "$CMD:SET,CH:8,PAR:OFF");
    EXPECT_EQ(getBoardInt(h, "Pw"), 0);
    ASSERT_EQ(setBoardFloat(h, "FanSpeed", 4.0f), 0);
    EXPECT_EQ(lastRequest("PAR:FANSP"), "$CMD:SET,CH:8,PAR:FANSP,VAL:4");
    EXPECT_FLOAT_EQ(getBoardFloat(h, "FanSpeed"), 4.0f);

    // Texts: board texts packed into the values buffer, channel texts
    // through one pointer per channel.
    char packed[2048];
    const unsigned short slots[2] = {0, 0};
    ASSERT_EQ(KORUHV_GetBdParam(h, 2, slots, "MACAddr", packed), 0);
    EXPECT_STREQ(packed, "00:50:C2:93:00:01");
    EXPECT_STREQ(packed + std::strlen(packed) + 1, "00:50:C2:93:00:01");
    // Board reads take any slot number as the one board.
    const unsigned short otherSlots[2] = {0, 3};
    float fans[2] = {-1, -1};
    ASSERT_EQ(KORUHV_GetBdParam(h, 2, otherSlots, "FanSpeed", fans), 0);
    EXPECT_FLOAT_EQ(fans[0], 4.0f);
    EXPECT_FLOAT_EQ(fans[1], 4.0f);
    char n0[1024] = "", n1[1024] = "";
    char *texts[2] = {n0, n1};
    const unsigned short chs[2] = {0, 1};
    ASSERT_EQ(KORUHV_GetChParam(h, 0, "Name", 2, chs, texts), 0);
    EXPECT_STREQ(n0, "+5V");
    EXPECT_STREQ(n1, "+3.3V");

    // Refusals.
    EXPECT_EQ(setInt(h, "Name", 0, 1), 2); // no text goes out: not a success
    EXPECT_EQ(setFloat(h, "VMon", 0, 1.0f), 3);
    EXPECT_EQ(setBoardFloat(h, "Temp", 1.0f), 2);
    int rc;
    getBoardInt(h, "SysRes", &rc);
    EXPECT_EQ(rc, 3);
    getFloat(h, "NoSuch", 0, &rc);
    EXPECT_EQ(rc, 22);
    unsigned short ch = 0;
    float v;
    EXPECT_EQ(KORUHV_GetChParam(h, 1, "VMon", 1, &ch, &v), 10);
    // Value reads name the channel as given: the unit judges it.
    getFloat(h, "VMon", 6, &rc);
    EXPECT_NE(rc, 10);
    EXPECT_EQ(lastRequest("PAR:VMON"), "$CMD:MON,CH:6,PAR:VMON");
    char names[1][12];
    ch = 6;
    EXPECT_EQ(KORUHV_GetChName(h, 0, 1, &ch, names), 10);
}

TEST_F(W9300Test, CommandsAndDeviceErrors)
{
    start();
    const int h = open("127.0.0.2");
    ASSERT_EQ(KORUHV_ExecComm(h, "SysRes"), 0);
    EXPECT_EQ(lastRequest("SYSR"), "$CMD:SET,CH:8,PAR:SYSR");
    EXPECT_EQ(KORUHV_ExecComm(h, "ClrAlrm"), 0);
    EXPECT_EQ(lastRequest("CLR"), "$CMD:SET,CH:8,PAR:CLR");
    EXPECT_EQ(KORUHV_ExecComm(h, "Temp"), 22);
    EXPECT_EQ(KORUHV_ExecComm(h, "NoSuch"), 22);
    const size_t before = sim->requestCount("SYSR");
    EXPECT_EQ(setBoardInt(h, "SysRes", 0), 0); // 0 means nothing to do
    EXPECT_EQ(sim->requestCount("SYSR"), before);

    crate().setLocal(true);
    EXPECT_EQ(setFloat(h, "VSet", 0, 4.0f), 2);
    EXPECT_EQ(KORUHV_ExecComm(h, "ClrAlrm"), 2);
    crate().setLocal(false);
    sim->addFault(Fault::errorReply("PAR:VMON", korusim::DeviceError::Par));
    int rc;
    getFloat(h, "VMon", 0, &rc);
    EXPECT_EQ(rc, 3);
    sim->addFault(Fault::malformed("PAR:VMON", "#CMD:OK,VAL:\r\n"));
    getFloat(h, "VMon", 0, &rc);
    EXPECT_EQ(rc, 3);
}

TEST_F(W9300Test, ALateReplyIsNotTakenForTheNextRequest)
{
    start();
    crate().setTemperature(31.0);
    const int h = open("127.0.0.2");
    sim->addFault(Fault::late("PAR:VSET", 1500));
    int rc;
    getFloat(h, "VSet", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_FLOAT_EQ(getBoardFloat(h, "Temp"), 31.0f); // not the 5.00 that came late
}

TEST_F(W9300Test, EventsOfTheCrateAndOfEverySubscribedChannel)
{
    start(8);
    crate().setTemperature(33.0);
    crate().setMonitored(5, 4.5, 12.0);
    crate().setMonitored(7, 47.0, 2.0);
    const int h = open("127.0.0.2");
    EventServer server;
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "Temp:Pw:IPAddr", 3), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 5, "VMon", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 7, "VMon:Name", 2), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2");
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 6; });
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "Temp", -1), nullptr);
    EXPECT_FLOAT_EQ(find(b, "Temp", -1)->value.FloatValue, 33.0f);
    EXPECT_EQ(find(b, "Pw", -1)->value.IntValue, 0);
    EXPECT_STREQ(find(b, "IPAddr", -1)->value.StringValue, "192.168.0.98");
    // Channels above 3 are reported like the others.
    ASSERT_NE(find(b, "VMon", 5), nullptr);
    EXPECT_FLOAT_EQ(find(b, "VMon", 5)->value.FloatValue, 4.5f);
    ASSERT_NE(find(b, "VMon", 7), nullptr);
    EXPECT_FLOAT_EQ(find(b, "VMon", 7)->value.FloatValue, 47.0f);
    EXPECT_STREQ(find(b, "Name", 7)->value.StringValue, "-6V");
    EXPECT_EQ(sim->lines("CH:7,PAR:VMON").back(), "$CMD:MON,CH:7,PAR:VMON"); // one request per channel

    ASSERT_EQ(setBoardInt(h, "Pw", 1), 0);
    const Batch on = EventServer::readUntil(fd, kWait, [](const Batch &x) {
        const EventRecord *r = find(x, "Pw", -1);
        return r && r->value.IntValue == 1;
    });
    EXPECT_EQ(on.rc, 0);
    // Commands are never polled.
    char results[1] = {0};
    EXPECT_EQ(KORUHV_SubscribeBoardParams(h, server.apiPort(), 0, "SysRes", 1, results), 0);
    EXPECT_EQ(static_cast<unsigned char>(results[0]), 255);
}

TEST_F(W9300Test, ACrateReportingMoreThanEightChannelsServesEight)
{
    W9300Crate c = W9300Crate::make(8);
    c.reportedChannels = 12;
    startTcp(std::make_unique<W9300Sim>(c));
    const int h = open("127.0.0.2");
    char *model = nullptr, *descr = nullptr;
    unsigned short channels = 0, serial = 0;
    unsigned char minor, major;
    EXPECT_EQ(KORUHV_TestBdPresence(h, 0, &channels, &model, &descr, &serial, &minor, &major), 6);
    EXPECT_EQ(channelParams(h, 7).size(), 8u);
    int rc;
    channelParams(h, 8, &rc);
    EXPECT_EQ(rc, 10);
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 7), 6.0f);
}

// A reply held back well past the wait and its grace, one sent twice and
// one cut short with the connection, each by a proxy in front of the
// crate: every read after it returns its own channel's value.
TEST_F(W9300Test, NoReplyIsTakenForALaterRequest)
{
    start(4);
    koru_test::FaultProxy proxy(koru_test::FaultProxy::line, "127.0.0.2", sim->port());
    koruhv::W9300_SetTcpPortForTests(proxy.port());
    const int h = open("127.0.0.3");
    const float volts[4] = {5, 3, 12, 11}; // each below its output's maximum
    for (unsigned short ch = 0; ch < 4; ++ch)
        ASSERT_EQ(setFloat(h, "VSet", ch, volts[ch]), 0);
    auto eachOwnValue = [&](const char *after) {
        for (unsigned short ch : {0, 1, 2, 3, 0}) {
            int rc = -1;
            const float v = getFloat(h, "VSet", ch, &rc);
            ASSERT_EQ(rc, 0) << after << ", channel " << ch;
            EXPECT_FLOAT_EQ(v, volts[ch]) << after << ", channel " << ch;
        }
    };
    int rc = 0;

    proxy.delayNext(3000);
    getFloat(h, "VSet", 3, &rc);
    EXPECT_EQ(rc, 3);
    eachOwnValue("a late reply");

    const int out = proxy.repliesOut();
    proxy.doubleNext();
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 2), 12);
    ASSERT_TRUE(koru_test::waitFor([&] { return proxy.repliesOut() >= out + 2; }));
    eachOwnValue("a doubled reply");

    proxy.cutNext(5);
    getFloat(h, "VSet", 1, &rc);
    EXPECT_EQ(rc, 3);
    eachOwnValue("a reply cut with its connection");
}
