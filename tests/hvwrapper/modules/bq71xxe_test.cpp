// The BQ71XXE backend against its simulator: the current-range probe and the
// unit's limits at open, the "$CMD" requests, the switch and the alarm reset.
#include <gtest/gtest.h>

#include "grp1_support.h"
#include "modules/bq71xxe_backend.h"
#include "modules/bq71xxe_sim.h"

using namespace grp1test;
using namespace std::chrono_literals;
using korusim::BQ71XXESim;
using korusim::BQ71XXEUnit;
using korusim::Fault;

namespace {

class BQ71XXETest : public FamilyTest {
protected:
    BQ71XXETest() : FamilyTest(11, koruhv::BQ71XXE_SetTcpPortForTests) {}
    void start(BQ71XXEUnit u = BQ71XXEUnit::make(4)) { startTcp(std::make_unique<BQ71XXESim>(std::move(u))); }
    BQ71XXESim &unit() { return static_cast<BQ71XXESim &>(*sim); }
    float prop(int h, const char *param, const char *p)
    {
        float f = -1;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, param, p, &f), 0) << param << " " << p;
        return f;
    }
    int16_t prop16(int h, const char *param, const char *p)
    {
        int16_t s = -1;
        EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, param, p, &s), 0) << param << " " << p;
        return s;
    }
};

} // namespace

TEST_F(BQ71XXETest, AUnitWithCurrentRangesKeepsTheRangeAndTheLargerLimits)
{
    start();
    const int h = open("127.0.0.2_5"); // the 5 is no module address
    EXPECT_EQ(sim->lines("IMRANGE").at(0), "$CMD:MON,CH:0,PAR:IMRANGE");
    EXPECT_EQ(boardParams(h), (std::vector<std::string>{"IlkStat", "BdAlarm", "ClearAlarm"}));
    const auto params = channelParams(h, 3);
    ASSERT_EQ(params.size(), 13u);
    EXPECT_EQ(params[4], "ImonRange");
    EXPECT_EQ(prop(h, "ISet", "Maxval"), 3000.0f); // IMAXH 3000, IMAXL 300
    EXPECT_EQ(prop16(h, "IMon", "Decimal"), 3);    // IMDECH 2, IMDECL 3
    EXPECT_EQ(prop16(h, "VSet", "Decimal"), 1);
    EXPECT_EQ(prop(h, "RUp", "Minval"), 1.0f);
    EXPECT_EQ(prop16(h, "ISet", "Exp"), -6);
    // A name the unit does not have is refused, and nothing is written.
    int32_t type = -1;
    EXPECT_EQ(KORUHV_GetBdParamProp(h, 0, "Nope", "Type", &type), 22);
    EXPECT_EQ(KORUHV_GetChParamProp(h, 0, 0, "Nope", "Type", &type), 22);
    EXPECT_EQ(type, -1);
}

TEST_F(BQ71XXETest, AUnitWithoutCurrentRangesOpensWithoutTheRangeParameter)
{
    BQ71XXEUnit u = BQ71XXEUnit::make(2, false);
    u.limits.imaxh = 2000;
    u.limits.imdech = 1;
    start(u);
    const int h = open("127.0.0.2");
    const auto params = channelParams(h, 0);
    ASSERT_EQ(params.size(), 12u);
    EXPECT_EQ(std::count(params.begin(), params.end(), "ImonRange"), 0);
    EXPECT_EQ(prop(h, "ISet", "Maxval"), 2000.0f);
    EXPECT_EQ(prop16(h, "IMon", "Decimal"), 1);
    EXPECT_EQ(sim->requestCount("IMAXL"), 0u);
}

TEST_F(BQ71XXETest, AnUnansweredDecimalsQueryFailsTheOpen)
{
    start();
    sim->addFault(Fault::silence("PAR:RUPDEC"));
    int h;
    EXPECT_EQ(tryOpen("127.0.0.2", kLinkTcp, &h), KORUHV_ERR_OPEN_FAILED);
}

TEST_F(BQ71XXETest, RequestsSwitchAndAlarmReset)
{
    start();
    const int h = open("127.0.0.2");
    ASSERT_EQ(setFloat(h, "RUp", 1, 5.0f), 0);
    EXPECT_EQ(lastRequest("PAR:RUP"), "$CMD:SET,CH:1,PAR:RUP,VAL:005");
    ASSERT_EQ(setFloat(h, "VSet", 1, 150.0f), 0);
    EXPECT_EQ(lastRequest("PAR:VSET"), "$CMD:SET,CH:1,PAR:VSET,VAL:150.0");
    EXPECT_FLOAT_EQ(getFloat(h, "VSet", 1), 150.0f);
    ASSERT_EQ(setInt(h, "PDwn", 0, 0), 0);
    EXPECT_EQ(lastRequest("PAR:PDWN"), "$CMD:SET,CH:0,PAR:PDWN,VAL:KILL");
    EXPECT_EQ(getInt(h, "PDwn", 0), 0);
    ASSERT_EQ(setInt(h, "ImonRange", 2, 1), 0);
    EXPECT_EQ(getInt(h, "ImonRange", 2), 1);

    ASSERT_EQ(setInt(h, "Pw", 0, 1), 0);
    EXPECT_EQ(lastRequest("PAR:ON"), "$CMD:SET,CH:0,PAR:ON");
    unit().setExtraStatus(0, korusim::kBQ71XXERampDown); // 5: on and ramping down is still on
    EXPECT_EQ(getInt(h, "Pw", 0), 1);
    EXPECT_EQ(getInt(h, "ChStatus", 0) & 5, 5);
    ASSERT_EQ(setInt(h, "Pw", 0, 0), 0);
    EXPECT_EQ(lastRequest("PAR:OFF"), "$CMD:SET,CH:0,PAR:OFF");

    ASSERT_EQ(KORUHV_ExecComm(h, "ClearAlarm"), 0);
    EXPECT_EQ(lastRequest("BDCLR"), "$CMD:SET,PAR:BDCLR");
    const size_t n = sim->requestCount("BDCLR");
    ASSERT_EQ(setBoardInt(h, "ClearAlarm", 0), 0); // sent for 0 as well
    EXPECT_EQ(sim->requestCount("BDCLR"), n + 1);

    unit().setInterlock(true);
    EXPECT_EQ(getBoardInt(h, "IlkStat"), 1);
    EXPECT_EQ(setInt(h, "Polarity", 0, 1), 3);
    EXPECT_EQ(setBoardInt(h, "IlkStat", 1), 2);
    unit().setLocal(true);
    EXPECT_EQ(setFloat(h, "VSet", 0, 10.0f), 2);
}

TEST_F(BQ71XXETest, SystemsOnOneAddressShareOneConnection)
{
    start();
    const int a = open("127.0.0.2");
    const int b = open("127.0.0.2_1"); // another address text, the same unit
    EXPECT_EQ(sim->connectionsAccepted(), 1);
    close(a);
    EXPECT_FLOAT_EQ(getFloat(b, "ISet", 0), 3000.0f);
}
