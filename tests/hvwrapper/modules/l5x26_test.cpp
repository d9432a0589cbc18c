// The L5026 and L5126 amplifier backends through the public API against the
// amplifier simulator: opening and identification, model variants, crate map
// and parameter lists, properties, reads and writes, device errors and
// time-outs, serial lines on a pseudo-terminal, and events.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "grp2_support.h"
#include "modules/l5026_backend.h"
#include "modules/l5026_sim.h"

using namespace grp2test;
using namespace std::chrono_literals;
using korusim::AmpFamily;
using korusim::AmpModule;
using korusim::AmpSim;
using korusim::Fault;

namespace {

constexpr int kL5026Type = 12;
constexpr int kL5126Type = 15;

class L5x26Test : public Grp2Test {
protected:
    void TearDown() override
    {
        Grp2Test::TearDown();
        if (sim) {
            const auto v = sim->violations();
            EXPECT_TRUE(v.empty()) << v.front();
            sim->stop();
        }
        koruhv::L5026_SetTcpPortForTests(0);
        koruhv::L5126_SetTcpPortForTests(0);
    }

    void startTcp(std::vector<AmpModule> modules)
    {
        sim = std::make_unique<AmpSim>(std::move(modules));
        ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
        koruhv::L5026_SetTcpPortForTests(sim->port());
        koruhv::L5126_SetTcpPortForTests(sim->port());
    }

    std::unique_ptr<AmpSim> sim;
};

std::string prop(int h, const char *param, const char *name, int *rc, int channel = 0)
{
    char buf[256] = {};
    *rc = channel < 0 ? KORUHV_GetBdParamProp(h, 0, param, name, buf)
                      : KORUHV_GetChParamProp(h, 0, static_cast<unsigned short>(channel), param, name, buf);
    return std::string(buf);
}

template <typename T> T propValue(int h, const char *param, const char *name, int channel = 0)
{
    T v{};
    const int rc = channel < 0
                       ? KORUHV_GetBdParamProp(h, 0, param, name, &v)
                       : KORUHV_GetChParamProp(h, 0, static_cast<unsigned short>(channel), param, name, &v);
    EXPECT_EQ(rc, 0) << param << " " << name;
    return v;
}

} // namespace

TEST_F(L5x26Test, OpensIdentifiesAndDescribesTheModule)
{
    startTcp({AmpModule::make(AmpFamily::L5026)});
    const int h = open(kL5026Type, "127.0.0.2");
    EXPECT_EQ(sim->requestCount("PAR:BDNCH"), 0u); // the channel count is fixed

    unsigned short slots = 0, *channels = nullptr;
    char *models = nullptr, *descriptions = nullptr;
    unsigned *serials = nullptr;
    unsigned char *minors = nullptr, *majors = nullptr;
    ASSERT_EQ(KORUHV_GetCrateMap(h, &slots, &channels, &models, &descriptions, &serials, &minors, &majors),
              0);
    ASSERT_EQ(slots, 1);
    EXPECT_EQ(channels[0], 16);
    EXPECT_STREQ(models, "L5026");
    EXPECT_STREQ(descriptions, "");
    EXPECT_EQ(serials[0], 26000u);
    EXPECT_EQ(majors[0], 3);
    EXPECT_EQ(minors[0], 12);
    for (void *p :
         {static_cast<void *>(channels), static_cast<void *>(models), static_cast<void *>(descriptions),
          static_cast<void *>(serials), static_cast<void *>(minors), static_cast<void *>(majors)})
        KORUHV_Free(p);

    EXPECT_EQ(boardParams(h), (std::vector<std::string>{"Offset", "MultiThr"}));
    const std::vector<std::string> chans = channelParams(h, 15);
    ASSERT_EQ(chans.size(), 18u);
    EXPECT_EQ(chans.front(), "Name");
    EXPECT_EQ(chans[3], "Shape");
    EXPECT_EQ(chans.back(), "PUR");
    int rc = 0;
    channelParams(h, 16, &rc);
    EXPECT_EQ(rc, 10);

    unsigned short list[] = {0, 15};
    char names[2][KORUHV_CHANNEL_NAME_SIZE] = {};
    ASSERT_EQ(KORUHV_GetChName(h, 0, 2, list, names), 0);
    EXPECT_STREQ(names[0], "CH00");
    EXPECT_STREQ(names[1], "CH15");
    // A channel at or beyond the count stops the list with 10: the names
    // before it are written, it and the ones after it are not.
    unsigned short refused[] = {2, 16, 3};
    char kept[3][KORUHV_CHANNEL_NAME_SIZE] = {"keep", "keep", "keep"};
    EXPECT_EQ(KORUHV_GetChName(h, 0, 3, refused, kept), 10);
    EXPECT_STREQ(kept[0], "CH02");
    EXPECT_STREQ(kept[1], "keep");
    EXPECT_STREQ(kept[2], "keep");
    unsigned short commands = 7;
    char *commandList = reinterpret_cast<char *>(1);
    EXPECT_EQ(KORUHV_GetExecCommList(h, &commands, &commandList), 0);
    EXPECT_EQ(commands, 0);
    EXPECT_EQ(commandList, nullptr);
    EXPECT_EQ(KORUHV_ExecComm(h, "Shape"), 22);
}

TEST_F(L5x26Test, PropertiesOfRows)
{
    startTcp({AmpModule::make(AmpFamily::L5026)});
    const int h = open(kL5026Type, "127.0.0.2");
    char labels[10][15] = {};
    ASSERT_EQ(KORUHV_GetChParamProp(h, 0, 2, "Shape", "Enum", labels), 0);
    const char *shape[] = {"0.5", "1", "2", "4", "0.5 Fast", "", "", "", "", ""};
    for (int i = 0; i < 10; ++i)
        EXPECT_STREQ(labels[i], shape[i]);
    EXPECT_EQ(propValue<int16_t>(h, "Shape", "Unit"), 8);
    EXPECT_EQ(propValue<int16_t>(h, "Shape", "Exp"), -6);
    EXPECT_EQ(propValue<int32_t>(h, "Shape", "Type"), 6);
    EXPECT_EQ(propValue<int32_t>(h, "Shape", "Mode"), 2);
    EXPECT_EQ(propValue<float>(h, "Threshold", "Maxval"), 4095.0f);
    EXPECT_EQ(propValue<int16_t>(h, "Offset", "Decimal", -1), 0);
    EXPECT_EQ(propValue<float>(h, "Offset", "Maxval", -1), 255.0f);

    struct Case {
        const char *param, *prop;
        int channel;
        int rc;
        const char *text;
    } cases[] = {
        {"InPol", "Onstate", 0, 0, "Neg"}, {"InPol", "Offstate", 0, 0, "Pos"},
        {"OROut", "Onstate", 0, 0, "Dis"}, {"FineGain", "Onstate", 0, 21, ""},
        {"FineGain", "Enum", 0, 21, ""},   {"FineGain", "Colour", 0, 21, ""},
        {"Offset", "Onstate", -1, 21, ""}, {"Shape", "Enum", 16, 10, ""},
    };
    for (const Case &c : cases) {
        int rc = -1;
        const std::string text = prop(h, c.param, c.prop, &rc, c.channel);
        EXPECT_EQ(rc, c.rc) << c.param << " " << c.prop;
        if (c.rc == 0) {
            EXPECT_EQ(text, c.text) << c.param << " " << c.prop;
        }
    }

    // A listed channel name is answered whatever the slot; a name the
    // channel lacks is an unknown property, or 10 for a slot not 0.
    float maxval = 0;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "FineGain", "Maxval", &maxval), 0);
    EXPECT_EQ(maxval, 127.0f);
    int32_t type = 0;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Offset", "Type", &type), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 1, 0, "Offset", "Type", &type), 10);
    // "Enum" of a row that is no enumeration copies its (empty) labels.
    std::memset(labels, 'x', sizeof labels);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "FineGain", "Enum", labels), 21);
    for (int i = 0; i < 10; ++i)
        EXPECT_STREQ(labels[i], "");
}

TEST_F(L5x26Test, ModelTextChoosesTheChannelTable)
{
    struct Case {
        AmpFamily family;
        const char *model;
        size_t rows;           // channel parameters
        const char *param;     // an enumeration row
        int label;             // its label number
        const char *labelText; // expected
    } cases[] = {
        {AmpFamily::L5026, "L5026", 18, "Shape", 4, "0.5 Fast"},
        {AmpFamily::L5026, "L5026GE", 18, "Shape", 0, "1"},
        {AmpFamily::L5026, "L5026DB", 18, "TDiff", 0, "75 "},
        {AmpFamily::L5026, "L5026DB", 18, "TInt", 1, "30"},
        {AmpFamily::L5026, "L5026GEX", 18, "Shape", 0, "0.5"}, // 8 characters: the default table
        {AmpFamily::L5026, "L5026XY", 0, nullptr, 0, nullptr}, // unknown variant: no channel table
        {AmpFamily::L5126, "L5126", 15, "MuxOut", 2, "FAUX Enabled"},
        {AmpFamily::L5126, "L5126GE", 15, "MuxOut", 2, "FAUX Enable"},
        {AmpFamily::L5126, "L5126DB", 0, nullptr, 0, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.model);
        startTcp({AmpModule::make(c.family, 0, c.model)});
        const int h = open(c.family == AmpFamily::L5026 ? kL5026Type : kL5126Type, "127.0.0.2");
        EXPECT_EQ(boardParams(h).size(), 2u);
        EXPECT_EQ(channelParams(h, 0).size(), c.rows);
        if (c.param) {
            char labels[10][15] = {};
            ASSERT_EQ(KORUHV_GetChParamProp(h, 0, 0, c.param, "Enum", labels), 0);
            EXPECT_STREQ(labels[c.label], c.labelText);
        }
        close(h);
        sim->stop();
        sim.reset();
    }
}

TEST_F(L5x26Test, IdentificationFailuresRefuseTheOpen)
{
    struct Case {
        int type;
        const char *model, *firmware;
    } cases[] = {
        {kL5026Type, "L5126", "3.12"},                             // another family's module
        {kL5126Type, "L5026", "3.12"}, {kL5026Type, "L5026", "3"}, // release without minor
        {kL5026Type, "L5026", "3."},   {kL5026Type, "L5026", ".12"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.model) + " " + c.firmware);
        AmpModule m = AmpModule::make(c.type == kL5026Type ? AmpFamily::L5026 : AmpFamily::L5126, 0, c.model);
        m.firmware = c.firmware;
        startTcp({m});
        open(c.type, "127.0.0.2", kLinkTcp, 4100);
        sim->stop();
        sim.reset();
    }
    EXPECT_EQ(threadCount("L5026 poll") + threadCount("L5126 poll"), 0);
}

TEST_F(L5x26Test, ReadsAndWritesEachKind)
{
    startTcp({AmpModule::make(AmpFamily::L5026, 7)});
    const int h = open(kL5026Type, "127.0.0.2_7");
    // A number is sent whole, at least one digit.
    ASSERT_EQ(setChFloat(h, "FineGain", 3, 12.7f), 0);
    EXPECT_EQ(sim->value(7, 3, "FGAIN"), 13);
    EXPECT_EQ(sim->lines("PAR:FGAIN,VAL").back(), "$BD:07,CMD:SET,CH:3,PAR:FGAIN,VAL:13");
    EXPECT_EQ(getChFloat(h, "FineGain", 3), 13.0f);
    // Enumerations and switches travel as their number.
    ASSERT_EQ(setChInt(h, "Shape", 1, 3), 0);
    EXPECT_EQ(sim->value(7, 1, "SHAPE"), 3);
    EXPECT_EQ(getChInt(h, "Shape", 1), 3);
    ASSERT_EQ(setChInt(h, "InPol", 2, 1), 0);
    EXPECT_EQ(getChInt(h, "InPol", 2), 1);
    ASSERT_EQ(setBdFloat(h, "Offset", 200.0f), 0);
    EXPECT_EQ(sim->boardValue(7, "BDOFFSET"), 200);
    EXPECT_EQ(getBdFloat(h, "Offset"), 200.0f);
    // Every slot number names the one board.
    const unsigned short slots[] = {3, 0};
    float offsets[2] = {0, 0};
    ASSERT_EQ(KORUHV_GetBdParam(h, 2, slots, "Offset", offsets), 0);
    EXPECT_EQ(offsets[0], 200.0f);
    EXPECT_EQ(offsets[1], 200.0f);
    const float newOffsets[2] = {150.0f, 150.0f};
    ASSERT_EQ(KORUHV_SetBdParam(h, 1, slots, "Offset", const_cast<float *>(newOffsets)), 0);
    EXPECT_EQ(sim->boardValue(7, "BDOFFSET"), 150);

    // Slot 1 is taken as the one board, slot 2 is refused without a request.
    unsigned short ch = 3;
    float v = 0;
    EXPECT_EQ(KORUHV_GetChParam(h, 1, "FineGain", 1, &ch, &v), 0);
    EXPECT_EQ(v, 13.0f);
    const size_t before = sim->requestCount();
    EXPECT_EQ(KORUHV_GetChParam(h, 2, "FineGain", 1, &ch, &v), 10);
    EXPECT_EQ(KORUHV_SetChParam(h, 2, "FineGain", 1, &ch, &v), 10);
    EXPECT_EQ(sim->requestCount(), before);

    // A text lands in the caller's buffer.
    sim->setChannelName(7, 4, "Anode4");
    char name[1024] = {};
    ch = 4;
    ASSERT_EQ(KORUHV_GetChParam(h, 0, "Name", 1, &ch, name), 0);
    EXPECT_STREQ(name, "Anode4");

    int rc = 0;
    getChInt(h, "Nope", 0, &rc);
    EXPECT_EQ(rc, 22);
    EXPECT_EQ(setChInt(h, "Name", 0, 1), 3); // read-only
    // A channel beyond the table still goes to the module.
    const size_t sent = sim->requestCount();
    getChInt(h, "FineGain", 16, &rc);
    EXPECT_EQ(sim->requestCount(), sent + 1);
    EXPECT_EQ(sim->lines("CH:16,").size(), 1u);
    EXPECT_EQ(setBdInt(h, "Nope", 1), 22);
}

TEST_F(L5x26Test, L5126ChannelNamesStopAtTheFirstChannelBeyondTheCount)
{
    startTcp({AmpModule::make(AmpFamily::L5126, 0, "L5126")});
    const int h = open(kL5126Type, "127.0.0.2");
    unsigned short list[] = {0, 15, 16, 1};
    char names[4][KORUHV_CHANNEL_NAME_SIZE] = {"keep", "keep", "keep", "keep"};
    EXPECT_EQ(KORUHV_GetChName(h, 0, 4, list, names), 10);
    EXPECT_STREQ(names[0], "CH00");
    EXPECT_STREQ(names[1], "CH15");
    EXPECT_STREQ(names[2], "keep");
    EXPECT_STREQ(names[3], "keep");
    EXPECT_EQ(KORUHV_GetChName(h, 1, 1, list, names), 10) << "slot other than 0";
    close(h);
}

TEST_F(L5x26Test, L5126CoarseGainOfTheAuxBranch)
{
    startTcp({AmpModule::make(AmpFamily::L5126)});
    const int h = open(kL5126Type, "127.0.0.2");
    ASSERT_EQ(setChInt(h, "AUXFCGain", 4, 2), 0);
    EXPECT_EQ(sim->value(0, 4, korusim::kL5126AuxCoarseGain), 2);
    ASSERT_EQ(setChFloat(h, "AUXFFGain", 4, 100.0f), 0);
    EXPECT_EQ(sim->value(0, 4, "AUXFGAIN"), 100);
    EXPECT_EQ(getChInt(h, "AUXFCGain", 4), 2);
}

TEST_F(L5x26Test, DeviceErrorsAndTimeouts)
{
    startTcp({AmpModule::make(AmpFamily::L5026)});
    const int h = open(kL5026Type, "127.0.0.2");
    sim->setLocal(0, true);
    EXPECT_EQ(setChFloat(h, "FineGain", 0, 5.0f), 2); // front-panel control refuses sets
    sim->setLocal(0, false);

    int rc = 0;
    sim->addFault(Fault::silence("PAR:THR"));
    const auto t0 = std::chrono::steady_clock::now();
    getChFloat(h, "Threshold", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // the margin is for a loaded machine

    // A reply that comes too late is not taken for the next request's.
    sim->setValue(0, 0, "CFDDEL", 9);
    sim->addFault(Fault::late("PAR:PZADJ", 1300));
    getChFloat(h, "PoleZAdj", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(getChFloat(h, "CFDDelay", 0), 9.0f);

    // Another module's reply is not the answer.
    sim->addFault(Fault::wrongAddress("PAR:CFDWDT", 5));
    getChFloat(h, "CFDWidth", 0, &rc);
    EXPECT_EQ(rc, 3);
    sim->addFault(Fault::errorReply("PAR:ORWDT", korusim::DeviceError::Par));
    getChFloat(h, "ORWidth", 0, &rc);
    EXPECT_EQ(rc, 3);
    EXPECT_EQ(getChFloat(h, "ORWidth", 0), static_cast<float>(sim->value(0, 0, "ORWDT")));
}

TEST_F(L5x26Test, SerialLineSharedByTwoModules)
{
    sim = std::make_unique<AmpSim>(
        std::vector<AmpModule>{AmpModule::make(AmpFamily::L5026, 0), AmpModule::make(AmpFamily::L5026, 1)});
    ASSERT_TRUE(sim->startPty()) << sim->error();
    const std::string port = sim->ptyName();
    const int a = open(kL5026Type, port, kLinkUsbVcp);
    const int b = open(kL5026Type, port + "_9600_8_0_0_1", kLinkUsbVcp);
    sim->setValue(0, 2, "THR", 100);
    sim->setValue(1, 2, "THR", 200);
    EXPECT_EQ(getChFloat(a, "Threshold", 2), 100.0f);
    EXPECT_EQ(getChFloat(b, "Threshold", 2), 200.0f);
    close(a); // the link stays for the other module
    EXPECT_EQ(getChFloat(b, "Threshold", 2), 200.0f);
    // A port name without a number is no serial port.
    open(kL5026Type, "ttyUSB", kLinkUsbVcp, 4100);
}

TEST_F(L5x26Test, SubscribedValuesArriveAsEvents)
{
    startTcp({AmpModule::make(AmpFamily::L5026)});
    const int h = open(kL5026Type, "127.0.0.2_0");
    sim->setValue(0, 3, "FGAIN", 33);
    sim->setValue(0, 5, "FGAIN", 55);
    sim->setBoardValue(0, "BDOFFSET", 77);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 3, "FineGain:Shape", 2), 0);
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 5, "FineGain", 1), 0);
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "Offset", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, "127.0.0.2_0");

    Batch b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 4; });
    ASSERT_EQ(b.rc, 0);
    ASSERT_NE(find(b, "Offset", -1), nullptr);
    EXPECT_EQ(find(b, "Offset", -1)->value.FloatValue, 77.0f);
    ASSERT_NE(find(b, "FineGain", 3), nullptr);
    EXPECT_EQ(find(b, "FineGain", 3)->value.FloatValue, 33.0f);
    EXPECT_EQ(find(b, "FineGain", 5)->value.FloatValue, 55.0f);
    ASSERT_NE(find(b, "Shape", 3), nullptr);
    EXPECT_EQ(find(b, "Shape", 3)->value.IntValue, sim->value(0, 3, "SHAPE"));
    // One request for every channel of a row.
    EXPECT_GT(sim->requestCount("CH:16,PAR:FGAIN"), 0u);
    EXPECT_EQ(sim->requestCount("CH:3,PAR:FGAIN"), 0u);

    // Channel 3 off: channel 5 stays.
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 3, "FineGain:Shape", 2), 0);
    b = EventServer::readUntil(fd, kWait, [](const Batch &x) { return x.records.size() == 2; });
    ASSERT_EQ(b.rc, 0);
    EXPECT_NE(find(b, "FineGain", 5), nullptr);
    EXPECT_EQ(find(b, "FineGain", 3), nullptr);

    // Nothing left: the connection closes; the next subscription opens and
    // identifies a new one.
    char results[4] = {};
    ASSERT_EQ(unsubscribeChannel(h, server.apiPort(), 5, "FineGain", 1), 0);
    ASSERT_EQ(KORUHV_UnSubscribeBoardParams(h, server.apiPort(), 0, "Offset", 1, results), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
    ASSERT_EQ(subscribeBoard(h, server.apiPort(), "MultiThr", 1), 0);
    const int fd2 = server.accept(kWait, &ident);
    ASSERT_GE(fd2, 0);
    EXPECT_EQ(ident, "127.0.0.2_0");

    // Unknown names and channels beyond the module get 255, the rest 0.
    char r[3] = {9, 9, 9};
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, server.apiPort(), 0, 2, "Nope:FineGain", 2, r), 0);
    EXPECT_EQ(static_cast<unsigned char>(r[0]), 255);
    EXPECT_EQ(r[1], 0);
    ASSERT_EQ(KORUHV_SubscribeChannelParams(h, server.apiPort(), 0, 16, "FineGain", 1, r), 0);
    EXPECT_EQ(static_cast<unsigned char>(r[0]), 255);
}

TEST_F(L5x26Test, SerialIdentificationAndCloseWithActiveSubscription)
{
    sim = std::make_unique<AmpSim>(std::vector<AmpModule>{AmpModule::make(AmpFamily::L5126, 2)});
    ASSERT_TRUE(sim->startPty()) << sim->error();
    const std::string address = sim->ptyName() + "_19200_8_0_0_2";
    const int h = open(kL5126Type, address, kLinkUsbVcp);
    EventServer server;
    ASSERT_EQ(subscribeChannel(h, server.apiPort(), 0, "Threshold", 1), 0);
    std::string ident;
    const int fd = server.accept(kWait, &ident);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ident, address);
    ASSERT_EQ(EventServer::readUntil(fd, kWait, [](const Batch &x) { return !x.records.empty(); }).rc, 0);
    EXPECT_EQ(threadCount("L5126 poll"), 1);
    const auto t0 = std::chrono::steady_clock::now();
    close(h);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 10s); // the margin is for a loaded machine
    EXPECT_EQ(threadCount("L5126 poll"), 0);
    EXPECT_TRUE(EventServer::closedWithin(fd, kWait));
}
