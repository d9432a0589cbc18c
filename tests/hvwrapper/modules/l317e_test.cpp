// The L317E backend against its simulator: model check, enumeration labels
// of the model variants, the value formats of its sets, module addresses on
// a shared link, texts and events of all sixteen channels.
#include <gtest/gtest.h>

#include <cstring>

#include "grp1_support.h"
#include "modules/l317e_backend.h"
#include "modules/l317e_sim.h"

using namespace grp1test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::L317EModule;
using korusim::L317ESim;

namespace {

class L317ETest : public FamilyTest {
protected:
    L317ETest() : FamilyTest(8, koruhv::L317E_SetTcpPortForTests) {}
    void start(std::vector<L317EModule> m = {L317EModule::make(0)})
    {
        startTcp(std::make_unique<L317ESim>(std::move(m)));
    }
    L317ESim &amp() { return static_cast<L317ESim &>(*sim); }
    std::vector<std::string> labels(int h, const char *param, int *rc)
    {
        char buf[150];
        std::memset(buf, 'x', sizeof buf);
        *rc = KORUHV_GetChParamProp(h, 0, 0, param, "Enum", buf);
        std::vector<std::string> out;
        for (int i = 0; i < 10; ++i)
            if (buf[i * 15])
                out.emplace_back(buf + i * 15, strnlen(buf + i * 15, 15));
        return out;
    }
};

} // namespace

TEST_F(L317ETest, OnlyAnL317EOpens)
{
    start({L317EModule::make(0, "X9000")});
    int h;
    EXPECT_EQ(tryOpen("127.0.0.2_0", kLinkTcp, &h), KORUHV_ERR_OPEN_FAILED);
}

TEST_F(L317ETest, ShapeLabelsFollowTheModelVariant)
{
    const struct {
        const char *model;
        std::vector<std::string> shape;
    } cases[] = {
        {"L317EBB", {"0.2", "1", "3", "0.1"}},
        {"L317EBC", {"0.2", "1", "2", "6"}},
        {"L317EBD2", {"0.2", "1", "2", "6"}},
        {"L317E", {"0.2", "1", "3", "6"}},
    };
    for (const auto &c : cases) {
        start({L317EModule::make(3, c.model)});
        const int h = open("127.0.0.2_3");
        int rc;
        EXPECT_EQ(labels(h, "Shape", &rc), c.shape) << c.model;
        EXPECT_EQ(rc, 0);
        close(h);
        sim->stop();
    }
}

TEST_F(L317ETest, ParametersAndProperties)
{
    start({L317EModule::make(5)});
    const int h = open("127.0.0.2_5");
    EXPECT_EQ(sim->lines("SERNUM").at(0), "$BD:05,CMD:MON,PAR:SERNUM");
    EXPECT_EQ(sim->requestCount("BDNCH"), 0u);
    EXPECT_EQ(boardParams(h), (std::vector<std::string>{"Offset", "MuxOut", "LastCh"}));
    EXPECT_EQ(channelParams(h, 15).size(), 7u);
    char names[1][KORUHV_CHANNEL_NAME_SIZE];
    const unsigned short ch15 = 15;
    ASSERT_EQ(KORUHV_GetChName(h, 0, 1, &ch15, names), 0);
    EXPECT_STREQ(names[0], "CH15");

    int rc;
    EXPECT_EQ(labels(h, "CoarGain", &rc),
              (std::vector<std::string>{"1", "2", "4", "8", "16", "32", "64", "128"}));
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(labels(h, "FineGain", &rc).empty());
    EXPECT_EQ(rc, 21);
    float f;
    int16_t s = -1;
    char text[32];
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "CoarGain", "Maxval", &f), 0);
    EXPECT_EQ(f, 7.0f);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Shape", "Exp", &s), 0);
    EXPECT_EQ(s, -6);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "PoleZAdj", "Decimal", &s), 0);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "OutPol", "Onstate", text), 0);
    EXPECT_STREQ(text, "Neg");
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "FineGain", "Onstate", text), 21);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "MuxOut", "Offstate", text), 0);
    EXPECT_STREQ(text, "Dis");
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Offset", "Maxval", &f), 0);
    EXPECT_EQ(f, 255.0f);
    int32_t type;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 16, "Shape", "Type", &type), 10);
    // Found rows ignore the slot; a name the channel's list lacks gives 21
    // (10 for another slot).
    EXPECT_EQ(KORUHV_GetChParamProp(h, 2, 0, "CoarGain", "Maxval", &f), 0);
    EXPECT_EQ(f, 7.0f);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Offset", "Type", &type), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Nope", "Type", &type), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "Nope", "Type", &type), 10);
}

TEST_F(L317ETest, ValueFormatsOfTheSets)
{
    start({L317EModule::make(5)});
    const int h = open("127.0.0.2_5");
    ASSERT_EQ(setFloat(h, "FineGain", 2, 7.0f), 0);
    EXPECT_EQ(lastRequest("FGAIN"), "$BD:05,CMD:SET,CH:2,PAR:FGAIN,VAL:007");
    EXPECT_FLOAT_EQ(getFloat(h, "FineGain", 2), 7.0f);
    ASSERT_EQ(setInt(h, "CoarGain", 2, 6), 0);
    EXPECT_EQ(lastRequest("CGAIN"), "$BD:05,CMD:SET,CH:2,PAR:CGAIN,VAL:6");
    EXPECT_EQ(getInt(h, "CoarGain", 2), 6); // the label index, not the label
    ASSERT_EQ(setInt(h, "Shape", 15, 3), 0);
    EXPECT_EQ(getInt(h, "Shape", 15), 3);
    ASSERT_EQ(setInt(h, "OutPol", 1, 1), 0);
    EXPECT_EQ(lastRequest("PAR:POL"), "$BD:05,CMD:SET,CH:1,PAR:POL,VAL:1");
    EXPECT_EQ(getInt(h, "OutPol", 1), 1);
    EXPECT_EQ(amp().channel(5, 1).outPol, 1);
    ASSERT_EQ(setBoardInt(h, "MuxOut", 1), 0);
    EXPECT_EQ(getBoardInt(h, "MuxOut"), 1);
    ASSERT_EQ(setBoardFloat(h, "Offset", 42.0f), 0);
    EXPECT_EQ(lastRequest("OFFSET"), "$BD:05,CMD:SET,PAR:OFFSET,VAL:042");
    EXPECT_FLOAT_EQ(getBoardFloat(h, "Offset"), 42.0f);

    amp().withModule(5, [](L317EModule &m) { m.channels[4].name = "Ge-det"; });
    char n4[1024] = "";
    char *texts[1] = {n4};
    const unsigned short ch4 = 4;
    ASSERT_EQ(KORUHV_GetChParam(h, 0, "Name", 1, &ch4, texts), 0);
    EXPECT_STREQ(n4, "Ge-det");

    EXPECT_EQ(setFloat(h, "LastCh", 0, 1.0f), 3); // read-only
    EXPECT_EQ(setBoardFloat(h, "LastCh", 1.0f), 2);
    EXPECT_EQ(KORUHV_ExecComm(h, "Offset"), 22);
    amp().setLocal(5, true);
    EXPECT_EQ(setFloat(h, "FineGain", 0, 9.0f), 2);
}

TEST_F(L317ETest, ModulesOnOneLinkAnswerOnlyForThemselves)
{
    startPty(
        std::make_unique<L317ESim>(std::vector<L317EModule>{L317EModule::make(1), L317EModule::make(2)}));
    const int a = open(sim->ptyName() + "_9600_8_0_0_1", kLinkUsbVcp);
    const int b = open(sim->ptyName() + "_9600_8_0_0_2", kLinkUsbVcp);
    ASSERT_EQ(setFloat(a, "FineGain", 0, 11.0f), 0);
    ASSERT_EQ(setFloat(b, "FineGain", 0, 22.0f), 0);
    EXPECT_FLOAT_EQ(getFloat(a, "FineGain", 0), 11.0f);
    EXPECT_FLOAT_EQ(getFloat(b, "FineGain", 0), 22.0f);
    // A reply in the name of another module is not the answer.
    sim->addFault(Fault::wrongAddress("PAR:FGAIN", 2));
    int rc;
    getFloat(a, "FineGain", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_FLOAT_EQ(getFloat(a, "FineGain", 0), 11.0f);
    close(a);
    EXPECT_FLOAT_EQ(getFloat(b, "FineGain", 0), 22.0f); // the link stays open for b
}

TEST_F(L317ETest, EventsOfAllSixteenChannelsFromOneRequest)
{
    start();
    amp().withModule(0, [](L317EModule &m) {
        m.channels[15].fineGain = 200;
        m.channels[15].name = "last";
    });
    const int h = open("127.0.0.2_0");
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 15, "FineGain:Name:CoarGain", 3), 0);
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "MuxOut", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2_0");
    const Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 4; });
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "FineGain", 15), nullptr);
    EXPECT_FLOAT_EQ(find(b, "FineGain", 15)->value.FloatValue, 200.0f);
    EXPECT_STREQ(find(b, "Name", 15)->value.StringValue, "last");
    EXPECT_EQ(find(b, "CoarGain", 15)->value.IntValue, 0);
    EXPECT_EQ(find(b, "MuxOut", -1)->value.IntValue, 0);
    EXPECT_EQ(sim->lines("CH:16,PAR:FGAIN").back(), "$BD:00,CMD:MON,CH:16,PAR:FGAIN");
}
