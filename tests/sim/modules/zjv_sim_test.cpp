// The ZJV simulator on its own: its answers over TCP and a pty, the
// resolutions, switching, trips and its error words.
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "modules/zjv_sim.h"
#include "raw_link.h"

using namespace korusim;
using namespace rawlink;
using namespace std::chrono_literals;

namespace {

TEST(ZJVTcp, AnswersIdentityResolutionsSwitchesAndErrorsLikeTheUnit)
{
    ZJVUnit u = ZJVUnit::make();
    u.v48res = 10;
    ZJVSim sim(u);
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startTcp("127.0.0.2", 0)) << sim.error();
    int fd = connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd, 0);
    expectExchanges(
        sim, fd,
        {
            {"$CMD:MON,PAR:BDNAME", "#CMD:OK,VAL:ZJV-LV2"},
            {"$CMD:MON,PAR:BDFREL", "#CMD:OK,VAL:1.3"},
            {"$CMD:MON,PAR:BDNCH", "#CMD:OK,VAL:2"},
            {"$CMD:MON,CH:0,PAR:V5RES", "#CMD:OK,VAL:100"},
            {"$CMD:MON,CH:0,PAR:V48RES", "#CMD:OK,VAL:10"},
            {"$CMD:MON,CH:0,PAR:IFANRES", "#CMD:OK,VAL:1000"},
            {"$CMD:MON,CH:1,PAR:V5", "#CMD:OK,VAL:0.00"},
            {"$CMD:MON,CH:2,PAR:V48", "#CMD:OK,VAL:0.0;0.0"}, // CH = count: both channels
            {"$CMD:MON,CH:2,PAR:I5", "#CMD:OK,VAL:0.000;0.000"},
            {"$CMD:SET,CH:1,PAR:ON", "#CMD:OK"},
            {"$CMD:MON,CH:2,PAR:STAT", "#CMD:OK,VAL:0;3"}, // on, ramping up
            {"$CMD:SET,CH:2,PAR:ON", "#CMD:OK"},
            {"$CMD:SET,CH:0,PAR:OFF", "#CMD:OK"},
            {"$CMD:MON,CH:2,PAR:STAT", "#CMD:OK,VAL:0;3"},
            // Errors.
            {"$CMD:MON,CH:0,PAR:ON", "#CMD:ERR", true},
            {"$CMD:SET,CH:0,PAR:V5,VAL:05.00", "#CMD:ERR"}, // everything but the switch is read-only
            {"$CMD:SET,CH:0,PAR:ON,VAL:1", "#VAL:ERR", true},
            {"$CMD:SET,PAR:ON", "#CH:ERR", true},
            {"$CMD:MON,PAR:V5", "#CH:ERR", true},
            {"$CMD:MON,CH:0,PAR:BDNAME", "#CH:ERR", true},
            {"$CMD:MON,CH:3,PAR:V5", "#CH:ERR"},
            {"$CMD:MON,CH:0,PAR:V12", "#PAR:ERR"},
            {"$CMD:MON,CH:0,PAR:VSET", "#PAR:ERR"},
            {"$CMD:MON,CH:0,PAR:V5 ", "#CMD:ERR", true}, // a blank in the mnemonic
        });
    EXPECT_FALSE(sim.channel(0).on);
    EXPECT_TRUE(sim.channel(1).on);
    sim.setLocal(true);
    EXPECT_EQ(ask(fd, "$CMD:SET,CH:1,PAR:OFF"), "#LOC:ERR\r\n");
    EXPECT_TRUE(sim.channel(1).on);
    ::close(fd);
}

TEST(ZJVPhysics, RailsRampTripAndReportOverPty)
{
    ZJVSim sim;
    sim.setTickPeriod(0ms);
    sim.withUnit([](ZJVUnit &u) {
        u.channels[0].on = true;
        u.channels[1].on = true;
        u.channels[1].v48.loadOhm = 2.0; // 24 A at 48 V: far above its limit
    });
    sim.advance(0.1);
    ZJVChannel c0 = sim.channel(0);
    EXPECT_DOUBLE_EQ(c0.v5.v, 2.0); // 20 V/s
    EXPECT_EQ(c0.status(), kZJVOn | kZJVRampUp);
    for (int i = 0; i < 30; ++i)
        sim.advance(0.1);
    c0 = sim.channel(0);
    EXPECT_DOUBLE_EQ(c0.v5.v, 5.0);
    EXPECT_DOUBLE_EQ(c0.v48.v, 48.0);
    EXPECT_DOUBLE_EQ(c0.fan.i, 1.0);
    EXPECT_EQ(c0.status(), unsigned(kZJVOn));
    ZJVChannel c1 = sim.channel(1);
    EXPECT_FALSE(c1.on);
    EXPECT_EQ(c1.status(), unsigned(kZJVTripped));

    ASSERT_TRUE(sim.startPty()) << sim.error();
    int fd = openPtySlave(sim.ptyName());
    ASSERT_GE(fd, 0);
    expectExchanges(sim, fd,
                    {
                        {"$CMD:MON,CH:2,PAR:V48", "#CMD:OK,VAL:48.00;0.00"},
                        {"$CMD:MON,CH:0,PAR:I48", "#CMD:OK,VAL:2.000"},
                        {"$CMD:MON,CH:2,PAR:STAT", "#CMD:OK,VAL:1;128"},
                        {"$CMD:SET,CH:1,PAR:ON", "#CMD:OK"},         // ON clears the trip
                        {"$CMD:MON,CH:1,PAR:STAT", "#CMD:OK,VAL:3"}, // on, ramping up
                    });
    ::close(fd);
    sim.setMonitored(0, 4.5, 1.0, 47.0, 2.0, 12.0, 0.0); // a stalled fan
    sim.advance(1.0);
    EXPECT_DOUBLE_EQ(sim.channel(0).v5.v, 4.5);
    EXPECT_EQ(sim.channel(0).status(), kZJVOn | kZJVFanFail);
}

} // namespace
