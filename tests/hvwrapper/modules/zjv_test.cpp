// The ZJV backend against its simulator: decimals from the unit's
// resolutions, the switch, its property set and its presence test.
#include <gtest/gtest.h>

#include <cstring>

#include "grp1_support.h"
#include "modules/zjv_backend.h"
#include "modules/zjv_sim.h"

using namespace grp1test;
using namespace std::chrono_literals;
using korusim::Fault;
using korusim::ZJVSim;
using korusim::ZJVUnit;

namespace {

class ZJVTest : public FamilyTest {
protected:
    ZJVTest() : FamilyTest(10, koruhv::ZJV_SetTcpPortForTests) {}
    void start(ZJVUnit u = ZJVUnit::make()) { startTcp(std::make_unique<ZJVSim>(std::move(u))); }
    ZJVSim &unit() { return static_cast<ZJVSim &>(*sim); }
};

} // namespace

TEST_F(ZJVTest, DecimalsComeFromTheResolutions)
{
    ZJVUnit u = ZJVUnit::make();
    u.v48res = 1;
    u.i5res = 10;
    start(u);
    const int h = open("127.0.0.2");
    EXPECT_EQ(sim->lines("V5RES").at(0), "$CMD:MON,CH:0,PAR:V5RES");
    EXPECT_EQ(sim->requestCount("BDNCH"), 0u);
    const struct {
        const char *param;
        int decimals;
    } cases[] = {{"V5", 2}, {"V48", 0}, {"I5", 1}, {"I48", 3}, {"Status", 0}, {"Pw", 0}};
    for (const auto &c : cases) {
        int16_t d = -1;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 1, c.param, "Decimal", &d), 0) << c.param;
        EXPECT_EQ(d, c.decimals) << c.param;
    }
    float f;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "V5", "Minval", &f), 21);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "V5", "Exp", &f), 21);
    char text[32];
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Pw", "Onstate", text), 0);
    EXPECT_STREQ(text, "On");
    int32_t type;
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 2, "V5", "Type", &type), 10);
    // A name the unit does not have is refused, and nothing is written.
    type = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Nope", "Type", &type), 22);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Nope", "Type", &type), 22);
    EXPECT_EQ(type, -1);
    EXPECT_EQ(boardParams(h), std::vector<std::string>{});
    EXPECT_EQ(channelParams(h, 1).size(), 8u);
    unsigned short n = 9;
    char *cmds = reinterpret_cast<char *>(1);
    EXPECT_EQ(KORUHV_GetExecCommList(h, &n, &cmds), 0);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(KORUHV_ExecComm(h, "Pw"), 22);
}

TEST_F(ZJVTest, AFailedResolutionQueryFailsTheOpen)
{
    start();
    sim->addFault(Fault::silence("PAR:IFANRES"));
    int h;
    EXPECT_EQ(tryOpen("127.0.0.2", kLinkTcp, &h), KORUHV_ERR_OPEN_FAILED);
}

TEST_F(ZJVTest, SwitchingAndReading)
{
    start();
    const int h = open("127.0.0.2");
    ASSERT_EQ(setInt(h, "Pw", 0, 1), 0);
    EXPECT_EQ(lastRequest("PAR:ON"), "$CMD:SET,CH:0,PAR:ON");
    EXPECT_EQ(getInt(h, "Pw", 0), 1);
    EXPECT_EQ(lastRequest("STAT"), "$CMD:MON,CH:0,PAR:STAT");
    ASSERT_EQ(setInt(h, "Pw", 0, 0), 0);
    EXPECT_EQ(lastRequest("PAR:OFF"), "$CMD:SET,CH:0,PAR:OFF");
    EXPECT_EQ(getInt(h, "Pw", 0), 0);
    unit().setExtraStatus(1, 5);
    EXPECT_EQ(getInt(h, "Pw", 1), 1);
    unit().setExtraStatus(1, 4);
    EXPECT_EQ(getInt(h, "Pw", 1), 0);
    unit().setMonitored(1, 5.02, 1.5, 47.9, 0.25, 11.8, 0.5);
    EXPECT_FLOAT_EQ(getFloat(h, "V48", 1), 47.9f);
    EXPECT_FLOAT_EQ(getFloat(h, "I48", 1), 0.25f);
    EXPECT_EQ(setFloat(h, "V5", 0, 5.0f), 3); // read-only
    int rc;
    // Reads and writes of values send the channel as given (2 is the
    // all-channels request).
    getFloat(h, "V5", 2, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(lastRequest("PAR:V5"), "$CMD:MON,CH:2,PAR:V5");
    ASSERT_EQ(setInt(h, "Pw", 2, 1), 0);
    EXPECT_EQ(lastRequest("PAR:ON"), "$CMD:SET,CH:2,PAR:ON");
    unit().setLocal(true);
    EXPECT_EQ(setInt(h, "Pw", 1, 1), 2);
}

TEST_F(ZJVTest, PresenceTestAsksTheUnit)
{
    start();
    const int h = open("127.0.0.2");
    unsigned short channels = 0, serial = 7;
    unsigned char minor = 0, major = 0;
    char *model = nullptr, *descr = nullptr;
    ASSERT_EQ(KORUHV_TestBdPresence(h, 0, &channels, &model, &descr, &serial, &minor, &major), 0);
    EXPECT_STREQ(model, "ZJV-LV2");
    EXPECT_STREQ(descr, "");
    EXPECT_EQ(channels, 2);
    EXPECT_EQ(serial, 0);
    EXPECT_EQ(major, 1);
    EXPECT_EQ(minor, 3);
    KORUHV_Free(model);
    KORUHV_Free(descr);
    model = descr = nullptr;
    EXPECT_EQ(KORUHV_TestBdPresence(h, 1, &channels, &model, &descr, &serial, &minor, &major), 10);
    sim->addFault(Fault::silence("BDFREL"));
    EXPECT_EQ(KORUHV_TestBdPresence(h, 0, &channels, &model, &descr, &serial, &minor, &major), 29);
}

TEST_F(ZJVTest, SystemsOnDifferentPortsCloseOnlyTheirOwn)
{
    startPty(std::make_unique<ZJVSim>());
    auto other = std::make_unique<ZJVSim>();
    ASSERT_TRUE(other->startPty());
    const int a = open(sim->ptyName(), kLinkUsbVcp);
    const int b = open(other->ptyName(), kLinkUsbVcp);
    close(a);
    int rc;
    getFloat(b, "V5", 0, &rc);
    EXPECT_EQ(rc, 0);
    close(b);
    other->stop();
}
