// The TRIXHV backend through the public API against the TRIXHV simulator:
// parameter discovery and its failures, crate map, lists and properties,
// reads and writes, commands, addressed units on a pseudo-terminal, and
// events (board values only when they change).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "grp2_support.h"
#include "modules/trixhv_backend.h"
#include "modules/trixhv_sim.h"

using namespace grp2test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::TrixhvSim;
using korusim::TrixParam;
using korusim::TrixUnit;

namespace {

constexpr int kTrixhvType = 13;

class TrixhvTest : public Grp2Test {
protected:
    void TearDown() override
    {
        Grp2Test::TearDown();
        stopSim();
        koruhv::TRIXHV_SetTcpPortForTests(0);
    }

    void startTcp(std::vector<TrixUnit> units = {TrixUnit::make()})
    {
        sim = std::make_unique<TrixhvSim>(std::move(units));
        ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
        koruhv::TRIXHV_SetTcpPortForTests(sim->port());
    }

    void stopSim()
    {
        if (!sim)
            return;
        const auto v = sim->violations();
        EXPECT_TRUE(v.empty()) << v.front();
        sim->stop();
        sim.reset();
    }

    std::unique_ptr<TrixhvSim> sim;
};

template <typename T> T chProp(int h, const char *param, const char *name, unsigned short ch = 0)
{
    T v{};
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, ch, param, name, &v), 0) << param << " " << name;
    return v;
}

const std::vector<std::string> kBoard = {"BDILK", "BDCTR", "BDTERM", "BDALARM", "BDCLR"};
const std::vector<std::string> kChannel = {"VSET", "VMON", "ISET",    "IMON", "MAXV", "RUP", "RDW",
                                           "TRIP", "PDWN", "IMRANGE", "POL",  "STAT", "ON",  "OFF"};

} // namespace

TEST_F(TrixhvTest, DiscoversItsParametersFromTheUnit)
{
    startTcp();
    const int h = open(kTrixhvType, "127.0.0.2");
    EXPECT_EQ(boardParams(h), kBoard);
    for (unsigned short c = 0; c < 4; ++c)
        EXPECT_EQ(channelParams(h, c), kChannel) << c;
    int rc = 0;
    channelParams(h, 4, &rc);
    EXPECT_EQ(rc, 10);
    EXPECT_EQ(sim->requestCount("CMD:INFO,CH:3,PAR:VSET"), 1u);

    unsigned short slots = 0, *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    EXPECT_EQ(slots, 1);
    EXPECT_EQ(channels[0], 4);
    EXPECT_STREQ(models, "TRIXHV4");
    EXPECT_EQ(serials[0], 4000u);
    EXPECT_EQ(majors[0], 2);
    EXPECT_EQ(minors[0], 5);
    for (void *p :
         {static_cast<void *>(channels), static_cast<void *>(models), static_cast<void *>(descriptions),
          static_cast<void *>(serials), static_cast<void *>(minors), static_cast<void *>(majors)})
        KORUHV_Free(p);

    // Properties come from the descriptions.
    EXPECT_EQ(chProp<int16_t>(h, "VSET", "Unit"), 2);
    EXPECT_EQ(chProp<int16_t>(h, "VSET", "Decimal"), 1);
    EXPECT_EQ(chProp<float>(h, "VSET", "Maxval"), 3000.0f);
    EXPECT_EQ(chProp<int32_t>(h, "VSET", "Mode"), 2);
    EXPECT_EQ(chProp<int16_t>(h, "IMON", "Exp"), -6);
    EXPECT_EQ(chProp<int16_t>(h, "IMON", "Unit"), 1);
    EXPECT_EQ(chProp<int16_t>(h, "RUP", "Unit"), 7);
    char text[128] = "junk";
    ASSERT_EQ(KORUHV_GetChParamProp(h, 0, 2, "PDWN", "Onstate", text), 0);
    EXPECT_STREQ(text, "KILL");
    ASSERT_EQ(KORUHV_GetChParamProp(h, 0, 2, "VSET", "Onstate", text), 0); // empty, still answered
    EXPECT_STREQ(text, "");
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "VSET", "Colour", text), 21);
    int32_t type = -1;
    ASSERT_EQ(KORUHV_GetBdParamProp(h, 0, "BDALARM", "Type", &type), 0);
    EXPECT_EQ(type, 3);
    // The board property ignores the slot; a name that is no board
    // parameter answers 0 and writes nothing.
    type = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 1, "BDALARM", "Type", &type), 0);
    EXPECT_EQ(type, 3);
    type = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "VSET", "Type", &type), 0);
    EXPECT_EQ(type, -1);
    // A channel property is written and then refused for a slot not 0; a
    // name the channel lacks answers 0 (or 10 for a slot not 0).
    float maxval = 0;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "VSET", "Maxval", &maxval), 10);
    EXPECT_EQ(maxval, 3000.0f);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "BDALARM", "Type", &type), 0);
    EXPECT_EQ(type, -1);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "BDALARM", "Type", &type), 10);

    // Commands of the whole table, in table order.
    unsigned short n = 0;
    char *list = nullptr;
    ASSERT_EQ(KORUHV_GetExecCommList(h, &n, &list), 0);
    ASSERT_EQ(n, 3);
    EXPECT_STREQ(list, "BDCLR");
    EXPECT_STREQ(list + 6, "ON");
    EXPECT_STREQ(list + 9, "OFF");
    KORUHV_Free(list);

    unsigned short chs[] = {0, 9};
    char names[2][KORUHV_CHANNEL_NAME_SIZE] = {};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 1, chs, names), 0);
    EXPECT_STREQ(names[0], "CH00");
    // A channel at or beyond the count stops the list with 10: the names
    // before it are written, it and the ones after it are not.
    unsigned short refused[] = {2, 4, 1};
    char kept[3][KORUHV_CHANNEL_NAME_SIZE] = {"keep", "keep", "keep"};
    EXPECT_EQ(KORUHV_GetChName(h, 0, 3, refused, kept), 10);
    EXPECT_STREQ(kept[0], "CH02");
    EXPECT_STREQ(kept[1], "keep");
    EXPECT_STREQ(kept[2], "keep");
}

TEST_F(TrixhvTest, UnknownSystemTypesOpenTrixhv)
{
    startTcp();
    const int h = open(4, "127.0.0.2");
    EXPECT_EQ(boardParams(h), kBoard);
}

TEST_F(TrixhvTest, DiscoveryVariantsAndFailures)
{
    struct Case {
        const char *what;
        TrixUnit unit;
        int rc;
    };
    TrixUnit noBoard = TrixUnit::make(2);
    noBoard.board.clear();
    TrixUnit noChannels = TrixUnit::make(0);
    TrixUnit badRecord = TrixUnit::make(2);
    badRecord.channels[1].find("TRIP")->infoOverride = "0;2;0;1000;1;0;0;second;"; // eight ';'
    TrixUnit longName = TrixUnit::make(1);
    longName.board.push_back(TrixParam::numeric("ABCDEFGHIJKLMNO", 0, 0, 10, 0, "volt")); // 15 characters
    TrixUnit badRelease = TrixUnit::make(1);
    badRelease.firmware = "25";
    Case cases[] = {
        {"no board parameters", noBoard, 0},
        {"no channels", noChannels, 0},
        {"description of eight fields", badRecord, 4100},
        {"name too long for the table", longName, 4100},
        {"release without minor", badRelease, 4100},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        startTcp({c.unit});
        const int h = open(kTrixhvType, "127.0.0.2", kLinkTcp, c.rc);
        if (c.rc == 0 && c.unit.board.empty()) {
            EXPECT_TRUE(boardParams(h).empty());
            EXPECT_EQ(channelParams(h, 1), kChannel);
            EXPECT_GE(getChFloat(h, "VSET", 1), 0.0f);
        }
        if (c.rc == 0 && c.unit.channels.empty()) {
            int rc = 0;
            channelParams(h, 0, &rc);
            EXPECT_EQ(rc, 10);
            EXPECT_EQ(boardParams(h), kBoard);
        }
        if (h >= 0)
            close(h);
        stopSim();
    }
    EXPECT_EQ(threadCount("TRIXHV poll"), 0);
}

TEST_F(TrixhvTest, DescriptionsThatDifferPerChannel)
{
    TrixUnit u = TrixUnit::make(2);
    u.channels[1].find("VSET")->max = 6000;
    startTcp({u});
    const int h = open(kTrixhvType, "127.0.0.2");
    EXPECT_EQ(chProp<float>(h, "VSET", "Maxval", 0), 3000.0f);
    EXPECT_EQ(chProp<float>(h, "VSET", "Maxval", 1), 6000.0f);
    // A set formats its value by the first row of that name (4 integer digits).
    ASSERT_EQ(setChFloat(h, "VSET", 1, 15.0f), 0);
    EXPECT_EQ(sim->lines("PAR:VSET,VAL").back(), "$CMD:SET,CH:1,PAR:VSET,VAL:015.0");
    EXPECT_EQ(sim->value(0, 1, "VSET"), 15.0);
}

TEST_F(TrixhvTest, ReadsWritesAndCommands)
{
    TrixUnit u = TrixUnit::make(4);
    // The unit describes its on text in lower case and reads it in upper.
    u.findBoard("BDILK")->infoOverride = "1;0;0;1;0;0;0;;yes;no";
    // Enumerations are neither read nor sent.
    korusim::TrixParam mode = korusim::TrixParam::numeric("BDMODE", korusim::kTrixReadWrite, 0, 3, 0, "");
    mode.type = korusim::kTrixEnum;
    u.board.push_back(mode);
    korusim::TrixParam gear = korusim::TrixParam::numeric("GEAR", korusim::kTrixReadWrite, 0, 3, 0, "");
    gear.type = korusim::kTrixEnum;
    for (korusim::TrixChannel &c : u.channels)
        c.params.push_back(gear);
    startTcp({u});
    const int h = open(kTrixhvType, "127.0.0.2");
    sim->setInterlock(0, true);

    ASSERT_EQ(setChFloat(h, "VSET", 2, 150.0f), 0);
    EXPECT_EQ(sim->lines("PAR:VSET,VAL").back(), "$CMD:SET,CH:2,PAR:VSET,VAL:150.0");
    EXPECT_EQ(getChFloat(h, "VSET", 2), 150.0f);
    ASSERT_EQ(setChInt(h, "PDWN", 1, 1), 0);
    EXPECT_EQ(sim->lines("PAR:PDWN,VAL").back(), "$CMD:SET,CH:1,PAR:PDWN,VAL:KILL");
    EXPECT_EQ(getChInt(h, "PDWN", 1), 1);
    EXPECT_EQ(getChInt(h, "PDWN", 0), 0);
    ASSERT_EQ(setBdInt(h, "BDTERM", 1), 0);
    EXPECT_EQ(getBdInt(h, "BDTERM"), 1);
    EXPECT_EQ(getBdInt(h, "BDILK"), 1); // "YES" against "yes"
    sim->setInterlock(0, false);

    // The board operations ignore the slot numbers.
    unsigned short slot = 3;
    int32_t v = -1;
    EXPECT_EQ(KORUHV_GetBdParam(h, 1, &slot, "BDTERM", &v), 0);
    EXPECT_EQ(v, 1);

    {
        const size_t sent = sim->requestCount();
        EXPECT_EQ(setBdInt(h, "BDMODE", 2), 0);
        int32_t cell = 77;
        unsigned short ch = 1;
        EXPECT_EQ(KORUHV_GetChParam(h, 0, "GEAR", 1, &ch, &cell), 0);
        EXPECT_EQ(cell, 77);
        EXPECT_EQ(KORUHV_SetChParam(h, 0, "GEAR", 1, &ch, &cell), 2);
        EXPECT_EQ(KORUHV_GetChParam(h, 2, "GEAR", 1, &ch, &cell), 10);
        EXPECT_EQ(sim->requestCount(), sent);
    }

    // ON with 0 sends nothing; with 1 it switches the channel on.
    const size_t before = sim->requestCount("PAR:ON");
    EXPECT_EQ(setChInt(h, "ON", 3, 0), 0);
    EXPECT_EQ(sim->requestCount("PAR:ON"), before);
    ASSERT_EQ(setChInt(h, "ON", 3, 1), 0);
    EXPECT_TRUE(sim->channelOn(0, 3));

    ASSERT_EQ(KORUHV_ExecComm(h, "BDCLR"), 0);
    EXPECT_EQ(sim->lines("PAR:BDCLR").back(), "$CMD:SET,PAR:BDCLR");
    EXPECT_EQ(KORUHV_ExecComm(h, "NOSUCH"), 2); // sent, and refused by the unit
    EXPECT_EQ(sim->requestCount("PAR:NOSUCH"), 1u);

    EXPECT_EQ(setChFloat(h, "VMON", 0, 1.0f), 3); // read-only on a channel
    EXPECT_EQ(setBdInt(h, "BDILK", 1), 2);        // read-only on the board
    EXPECT_EQ(setChFloat(h, "NOPE", 0, 1.0f), 22);
    int rc = 0;
    getChFloat(h, "VSET", 4, &rc);
    EXPECT_EQ(rc, 10);

    sim->setLocal(0, true);
    EXPECT_EQ(setChFloat(h, "VSET", 0, 10.0f), 2);
    sim->setLocal(0, false);
    sim->addFault(Fault::silence("PAR:RUP"));
    getChFloat(h, "RUP", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(getChFloat(h, "RDW", 0), 50.0f);
}

TEST_F(TrixhvTest, AddressedUnitsOnOneSerialLine)
{
    sim = std::make_unique<TrixhvSim>(std::vector<TrixUnit>{TrixUnit::make(2, 1), TrixUnit::make(2, 2)});
    ASSERT_TRUE(sim->startPty()) << sim->error();
    const std::string port = sim->ptyName();
    const int a = open(kTrixhvType, port + "_9600_8_0_0_1", kLinkUsbVcp);
    const int b = open(kTrixhvType, port + "_9600_8_0_0_2", kLinkUsbVcp);
    ASSERT_EQ(setChFloat(a, "VSET", 0, 100.0f), 0);
    ASSERT_EQ(setChFloat(b, "VSET", 0, 200.0f), 0);
    EXPECT_EQ(sim->value(1, 0, "VSET"), 100.0);
    EXPECT_EQ(sim->value(2, 0, "VSET"), 200.0);
    EXPECT_EQ(sim->lines("$BD:2,CMD:SET").back(), "$BD:2,CMD:SET,CH:0,PAR:VSET,VAL:200.0");

    EventServer server;
    ASSERT_EQ(subscribeChannel(b, server.apiPort(), 1, "VSET", 1), 0);
    std::string ident;
    ASSERT_GE(server.accept(kWait, &ident), 0);
    EXPECT_EQ(ident, port + "_9600_8_0_0_2");
}

TEST_F(TrixhvTest, BoardValuesOnlyWhenTheyChange)
{
    startTcp({TrixUnit::make(4)});
    const int h = open(kTrixhvType, "127.0.0.2");
    sim->setBoardValue(0, "BDALARM", 3);
    sim->setMonitored(0, 0, 12.5, 1.0);
    EventServer server;
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "BDALARM", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "VMON", 1), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 2, "VMON", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2");

    Batch b =
        EventServer::readUntil(fd, kWait, [](const Batch &x) { return find(x, "BDALARM", -1) != nullptr; });
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(find(b, "BDALARM", -1)->value.IntValue, 3);
    // Channel values come every cycle, the unchanged board value not again.
    for (int i = 0; i < 3; ++i) {
        b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return !x.records.empty(); });
        ASSERT_EQ(b.rc, 0);
        EXPECT_EQ(find(b, "BDALARM", -1), nullptr);
        ASSERT_NE(find(b, "VMON", 0), nullptr);
        EXPECT_EQ(find(b, "VMON", 0)->value.FloatValue, 12.5f);
        EXPECT_NE(find(b, "VMON", 2), nullptr);
    }
    sim->setBoardValue(0, "BDALARM", 5);
    b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return find(x, "BDALARM", -1) != nullptr; });
    ASSERT_EQ(b.rc, 0);
    EXPECT_EQ(find(b, "BDALARM", -1)->value.IntValue, 5);

    // A new connection learns the current value again.
    char r[2] = {};
    ASSERT_EQ(KORUHV_UnSubscribeBoardParams(h, server.apiPort(), 0, "BDALARM", 1, r), 0);
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 0, "VMON", 1), 0);
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 2, "VMON", 1), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "BDALARM", 1), 0);
    const int fd2 = server.accept(kWait, &ident);
    ASSERT_GE(fd2, 0);
    b = EventServer::readUntil(fd2, kWait, [](const Batch &x) { return !x.records.empty(); });
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "BDALARM", -1), nullptr);
    EXPECT_EQ(find(b, "BDALARM", -1)->value.IntValue, 5);
    // With nothing changing, empty batches keep the connection alive.
    const auto quiet = std::chrono::steady_clock::now();
    b = EventServer::read(fd2);
    ASSERT_EQ(b.rc, 0);
    EXPECT_TRUE(b.records.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - quiet, 10s); // 5 s; the reader would wait 15 s

    // Closing with the subscription active ends the thread at once.
    const auto t0 = std::chrono::steady_clock::now();
    close(h);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // the margin is for a loaded machine
    EXPECT_EQ(threadCount("TRIXHV poll"), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd2, kWait));
}
