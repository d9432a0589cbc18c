// The W9300 simulator on its own: crate and output answers over TCP and a
// pty, several connections to one crate, its physics and its error words.
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "modules/w9300_sim.h"
#include "raw_link.h"

using namespace korusim;
using namespace rawlink;
using namespace std::chrono_literals;

namespace {

TEST(W9300Tcp, AnswersCrateAndOutputRequestsLikeTheCrate)
{
    W9300Sim sim(W9300Crate::make(6));
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startTcp("127.0.0.2", 0)) << sim.error();
    int fd = connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd, 0);
    expectExchanges(sim, fd,
                    {
                        {"$CMD:MON,CH:8,PAR:CRNAME", "#CMD:OK,VAL:W9300"},
                        {"$CMD:MON,CH:8,PAR:NUMCH", "#CMD:OK,VAL:6"},
                        {"$CMD:MON,CH:8,PAR:PSFREL", "#CMD:OK,VAL:2.03"},
                        {"$CMD:MON,CH:8,PAR:PSSNUM", "#CMD:OK,VAL:9301"},
                        {"$CMD:MON,CH:8,PAR:CRST", "#CMD:OK,VAL:0"},
                        {"$CMD:MON,CH:8,PAR:FANSP", "#CMD:OK,VAL:3"},
                        {"$CMD:MON,CH:8,PAR:IPADD", "#CMD:OK,VAL:192.168.0.98"},
                        {"$CMD:MON,CH:8,PAR:MACADD", "#CMD:OK,VAL:00:50:C2:93:00:01"},
                        {"$CMD:MON,CH:8,PAR:FUFREL", "#CMD:OK,VAL:1.02"},
                        {"$CMD:MON,CH:0,PAR:NAME", "#CMD:OK,VAL:+5V"},
                        {"$CMD:MON,CH:3,PAR:NAME", "#CMD:OK,VAL:-12V"},
                        {"$CMD:MON,CH:0,PAR:VSET", "#CMD:OK,VAL:5.00"},
                        {"$CMD:MON,CH:0,PAR:ISET", "#CMD:OK,VAL:100.0"},
                        {"$CMD:MON,CH:0,PAR:VMAX", "#CMD:OK,VAL:6.00"},
                        {"$CMD:MON,CH:0,PAR:IMIN", "#CMD:OK,VAL:0.0"},
                        {"$CMD:MON,CH:0,PAR:VRES", "#CMD:OK,VAL:100"},
                        {"$CMD:MON,CH:0,PAR:IRES", "#CMD:OK,VAL:10"},
                        {"$CMD:MON,CH:0,PAR:OVP", "#CMD:OK,VAL:5.75"},
                        {"$CMD:SET,CH:1,PAR:VSET,VAL:3.40", "#CMD:OK"}, // "%04.2f"
                        {"$CMD:SET,CH:1,PAR:ISET,VAL:50.5", "#CMD:OK"}, // "%04.1f"
                        {"$CMD:SET,CH:1,PAR:NAME,VAL:aux", "#CMD:OK"},
                        {"$CMD:MON,CH:1,PAR:NAME", "#CMD:OK,VAL:aux"},
                        {"$CMD:SET,CH:8,PAR:FANSP,VAL:5", "#CMD:OK"},
                        {"$CMD:SET,CH:8,PAR:ON", "#CMD:OK"},
                        {"$CMD:MON,CH:8,PAR:CRST", "#CMD:OK,VAL:1"},
                        {"$CMD:SET,CH:8,PAR:SYSR", "#CMD:OK"},
                        {"$CMD:MON,CH:8,PAR:CRST", "#CMD:OK,VAL:32"}, // off, reset flag
                        {"$CMD:SET,CH:8,PAR:CLR", "#CMD:OK"},
                        {"$CMD:MON,CH:8,PAR:CRST", "#CMD:OK,VAL:0"},
                        // Errors.
                        {"$CMD:MON,PAR:CRNAME", "#CH:ERR", true},      // every request names a channel
                        {"$CMD:MON,CH:0,PAR:PSTEMP", "#CH:ERR", true}, // crate parameter on an output
                        {"$CMD:MON,CH:8,PAR:VMON", "#CH:ERR", true},   // output parameter on the crate
                        {"$CMD:MON,CH:6,PAR:VMON", "#CH:ERR"},         // no seventh output
                        {"$CMD:MON,CH:8,PAR:SYSR", "#CMD:ERR", true},
                        {"$CMD:SET,CH:8,PAR:ON,VAL:1", "#VAL:ERR", true}, // the switch takes no value
                        {"$CMD:SET,CH:8,PAR:PSTEMP,VAL:20", "#CMD:ERR"},
                        {"$CMD:SET,CH:0,PAR:VMON,VAL:1.00", "#CMD:ERR"},
                        {"$CMD:SET,CH:0,PAR:VSET,VAL:7.00", "#VAL:ERR"}, // above VMAX
                        {"$CMD:SET,CH:0,PAR:VSET,VAL:5,00", "#VAL:ERR", true},
                        {"$CMD:SET,CH:8,PAR:FANSP,VAL:7", "#VAL:ERR"},
                        {"$CMD:SET,CH:0,PAR:NAME,VAL:much-too-long-name", "#VAL:ERR", true},
                        {"$CMD:MON,CH:8,PAR:PSVOLT", "#PAR:ERR"},
                    });
    W9300Crate c = sim.crate();
    EXPECT_DOUBLE_EQ(c.channels[1].vset, 3.4);
    EXPECT_DOUBLE_EQ(c.channels[1].iset, 50.5);
    EXPECT_EQ(c.fanSpeed, 5);
    EXPECT_FALSE(c.on);

    // A second connection talks to the same crate.
    int fd2 = connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd2, 0);
    EXPECT_EQ(ask(fd2, "$CMD:MON,CH:1,PAR:VSET"), "#CMD:OK,VAL:3.40\r\n");
    sim.setLocal(true);
    EXPECT_EQ(ask(fd2, "$CMD:SET,CH:8,PAR:ON"), "#LOC:ERR\r\n");
    EXPECT_EQ(sim.connectionsAccepted(), 2);
    ::close(fd2);
    ::close(fd);
}

TEST(W9300Physics, OutputsFansAndTemperatureFollowThePowerSwitch)
{
    W9300Sim sim(W9300Crate::make(2));
    sim.setTickPeriod(0ms);
    sim.withCrate([](W9300Crate &c) { c.on = true; });
    sim.advance(0.1);
    EXPECT_NEAR(sim.channel(0).vmon, 2.0, 1e-9); // 20 V/s soft start
    EXPECT_TRUE(sim.channel(0).status(true) & kW9300Ramping);
    for (int i = 0; i < 100; ++i)
        sim.advance(0.1);
    W9300Channel o = sim.channel(0);
    EXPECT_DOUBLE_EQ(o.vmon, 5.0);
    EXPECT_NEAR(o.imon, 50.0, 1e-9); // 5 V into 0.1 Ohm
    EXPECT_EQ(o.status(true), unsigned(kW9300On));
    W9300Crate c = sim.crate();
    EXPECT_DOUBLE_EQ(c.fanRpm[0], 1200.0 + 600.0 * 3);
    EXPECT_GT(c.temp, 28.0);
    EXPECT_EQ(c.status(), unsigned(kW9300CrateOn));

    // The current limit holds the output down: over-current and under-voltage.
    sim.withCrate([](W9300Crate &c) { c.channels[0].iset = 20; });
    for (int i = 0; i < 20; ++i)
        sim.advance(0.1);
    o = sim.channel(0);
    EXPECT_DOUBLE_EQ(o.vmon, 2.0);
    EXPECT_EQ(o.status(true), kW9300On | kW9300OverCurrent | kW9300UnderVoltage);
    EXPECT_TRUE(sim.crate().status() & kW9300CrateChannelAlarm);

    sim.setFanRpm(0, 2500, 2500);
    sim.setTemperature(65);
    sim.advance(0.1);
    EXPECT_EQ(sim.crate().status() & (kW9300CrateFanFail | kW9300CrateOverTemp),
              kW9300CrateFanFail | kW9300CrateOverTemp);

    ASSERT_TRUE(sim.startPty()) << sim.error();
    int fd = openPtySlave(sim.ptyName());
    ASSERT_GE(fd, 0);
    expectExchanges(sim, fd,
                    {
                        {"$CMD:MON,CH:8,PAR:PSTEMP", "#CMD:OK,VAL:65"},
                        {"$CMD:MON,CH:8,PAR:FAN1", "#CMD:OK,VAL:0"},
                        {"$CMD:MON,CH:0,PAR:VMON", "#CMD:OK,VAL:2.00"},
                        {"$CMD:MON,CH:0,PAR:STAT", "#CMD:OK,VAL:13"},
                        {"$CMD:SET,CH:8,PAR:OFF", "#CMD:OK"},
                    });
    ::close(fd);
    sim.advance(1.0);
    EXPECT_DOUBLE_EQ(sim.channel(0).vmon, 0.0);
}

} // namespace
