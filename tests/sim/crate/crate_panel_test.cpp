// The crate simulator's front-panel word and fan readings follow its model:
// the channels' states and alarms, the fan-speed setting and failed fans.
#include <gtest/gtest.h>

#include "crate/crate_panel.h"
#include "crate/crate_sim.h"

using namespace korusim;

namespace {

uint16_t word(const CrateSim &sim)
{
    const std::string v = sim.sysProp("FrontPanOut").value_or(std::string());
    return v.size() == 2 ? uint16_t((uint8_t(v[0]) << 8) | uint8_t(v[1])) : 0xFFFF;
}

CrateSimOptions still()
{
    CrateSimOptions o;
    o.ramp = false; // the test steps the ramp itself
    return o;
}

} // namespace

TEST(CratePanel, FrontPanelWordFollowsTheChannels)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.2", 0, still());
    EXPECT_EQ(word(sim), 0);
    // Switched on: the ramp reports the channel on, and the panel with it.
    ASSERT_TRUE(sim.setChannelValue(2, 1, "Pw", 1));
    sim.tickNow();
    EXPECT_EQ(word(sim), kPanelChannelOn);
    struct Case {
        uint32_t alarm;
        uint16_t lamp;
    };
    const Case cases[] = {
        {kChannelOverCurrent, kPanelOverCurrent},   {kChannelOverVoltage, kPanelOverVoltage},
        {kChannelUnderVoltage, kPanelUnderVoltage}, {kChannelExternalTrip, kPanelTrip},
        {kChannelInternalTrip, kPanelTrip},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(sim.setChannelAlarm(0, 3, c.alarm, true));
        EXPECT_EQ(word(sim), kPanelChannelOn | c.lamp) << c.alarm;
        sim.tickNow(); // the ramp keeps an alarm
        EXPECT_EQ(word(sim), kPanelChannelOn | c.lamp) << c.alarm;
        ASSERT_TRUE(sim.setChannelAlarm(0, 3, c.alarm, false));
        EXPECT_EQ(word(sim), kPanelChannelOn) << c.alarm;
    }
    // The on and ramp bits are the ramp's, not the knob's.
    ASSERT_TRUE(sim.setChannelAlarm(0, 0, kChannelOn, true));
    EXPECT_EQ(sim.channelRaw(0, 0, "Status"), 0u);
    EXPECT_FALSE(sim.setChannelAlarm(1, 0, kChannelOverCurrent, true)); // empty slot
    ASSERT_TRUE(sim.setChannelValue(2, 1, "Pw", 0));
    sim.tickNow();
    EXPECT_EQ(word(sim), 0);
}

TEST(CratePanel, FansTurnAtTheSetSpeedAndAFailedOneStands)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.2", 0, still());
    EXPECT_EQ(sim.sysProp("HVFanStat"), fanStatusBytes(3, 0, 1));
    ASSERT_TRUE(sim.setSysProp("HVFanSpeed", std::string{0, 2}));
    EXPECT_EQ(sim.sysProp("HVFanStat"), fanStatusBytes(3, 0, 2));
    ASSERT_TRUE(sim.setFanFailed("HVFanStat", 2, true));
    const std::string fans = sim.sysProp("HVFanStat").value_or(std::string());
    ASSERT_EQ(fans.size(), 9u);
    EXPECT_EQ(fans.substr(6), std::string(3, '\0')); // status 0 at 0 rpm
    EXPECT_EQ(fans[0], 1);
    EXPECT_EQ(word(sim), kPanelFanFailure);
    ASSERT_TRUE(sim.setFanFailed("HVFanStat", 2, false));
    EXPECT_EQ(word(sim), 0);
    EXPECT_FALSE(sim.setFanFailed("HVFanStat", 3, true)); // no such fan
    EXPECT_FALSE(sim.setFanFailed("ModelName", 0, true));
}

TEST(CratePanel, AWordSetByATestStaysAsSet)
{
    CrateSim sim(CrateModel::smallCrate(), "127.0.0.2", 0, still());
    ASSERT_TRUE(sim.setSysProp("FrontPanOut", std::string{3, 1}));
    ASSERT_TRUE(sim.setChannelValue(0, 0, "Pw", 1));
    sim.tickNow();
    EXPECT_EQ(word(sim), 0x0301);
}
