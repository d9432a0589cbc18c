// The TRIXHV simulator on its own: discovery answers that follow the unit's
// data, the set rules, the physics, and bus addresses on a serial line.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "modules/trixhv_sim.h"
#include "sim_client.h"

using namespace korusim;

namespace {

std::string reply(TrixhvDialect &d, const std::string &line)
{
    return d.handle(line, true).text.value_or("<none>");
}

TEST(TrixhvSimDiscovery, DescribesExactlyTheParametersTheUnitHolds)
{
    TrixUnit u = TrixUnit::make(3, 0);
    u.board.clear();
    TrixParam fine = TrixParam::numeric("VSET", kTrixReadWrite, 0, 3000, 2, "volt");
    u.channels[2].params = {fine, TrixParam::textual("XTRA", "hello")};
    u.channels[1].params[0].infoOverride = "0;2;0;3000;1;0;0;volt;;;"; // ten ';': a broken unit
    TrixhvDialect d({u});

    EXPECT_EQ(reply(d, "$CMD:MON,PAR:PARLIST"), "#CMD:OK,VAL:;");
    EXPECT_EQ(reply(d, "$CMD:MON,PAR:BDNCH"), "#CMD:OK,VAL:3");
    EXPECT_EQ(reply(d, "$CMD:MON,CH:2,PAR:PARCHLIST"), "#CMD:OK,VAL:VSET;XTRA");
    EXPECT_EQ(reply(d, "$CMD:MON,CH:0,PAR:PARCHLIST"),
              "#CMD:OK,VAL:VSET;VMON;ISET;IMON;MAXV;RUP;RDW;TRIP;PDWN;IMRANGE;POL;STAT;ON;OFF");
    // Nine ';' with the last fields empty; the description follows the channel.
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:0,PAR:VSET"), "#CMD:OK,VAL:0;2;0;3000;1;0;0;volt;;");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:2,PAR:VSET"), "#CMD:OK,VAL:0;2;0;3000;2;0;0;volt;;");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:1,PAR:VSET"), "#CMD:OK,VAL:0;2;0;3000;1;0;0;volt;;;");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:0,PAR:IMON"), "#CMD:OK,VAL:0;0;0;3000;2;1;-6;ampere;;");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:0,PAR:PDWN"), "#CMD:OK,VAL:1;2;0;1;0;0;0;;KILL;RAMP");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:0,PAR:ON"), "#CMD:OK,VAL:1;1;0;1;0;0;0;;ON;");
    EXPECT_EQ(reply(d, "$CMD:INFO,CH:2,PAR:VMON"), "#CMD:ERR,PAR:ERR"); // not on that channel
    // All channels at once: empty where a channel lacks the parameter.
    EXPECT_EQ(reply(d, "$CMD:MON,CH:3,PAR:XTRA"), "#CMD:OK,VAL:;;hello");
    EXPECT_EQ(reply(d, "$CMD:MON,CH:3,PAR:VSET"), "#CMD:OK,VAL:0.0;0.0;0.00");

    // A unit may claim more channels than it serves.
    TrixUnit wide = TrixUnit::make(1, 0);
    wide.reportedChannels = 40;
    TrixhvDialect w({wide});
    EXPECT_EQ(reply(w, "$CMD:MON,PAR:BDNCH"), "#CMD:OK,VAL:40");
    EXPECT_EQ(reply(w, "$CMD:MON,CH:39,PAR:PARCHLIST"), "#CMD:OK,VAL:;");
    EXPECT_EQ(reply(w, "$CMD:MON,PAR:PARLIST"), "#CMD:OK,VAL:BDILK;BDCTR;BDTERM;BDALARM;BDCLR");
    EXPECT_EQ(reply(w, "$CMD:MON,CH:40,PAR:PARCHLIST"), "#CMD:ERR,CH:ERR");
}

struct Case {
    const char *line;
    const char *reply;
    bool violation;
};

TEST(TrixhvSimDialect, TakesSetsInTheUnitsFormsOnly)
{
    const Case cases[] = {
        {"$CMD:SET,CH:0,PAR:VSET,VAL:015.0", "#CMD:OK", false},
        {"$CMD:SET,CH:1,PAR:VSET,VAL:15.25", "#CMD:ERR,VAL:ERR", true}, // more decimals than described
        {"$CMD:SET,CH:1,PAR:VSET,VAL:3000.1", "#CMD:ERR,VAL:ERR", false},
        {"$CMD:SET,CH:1,PAR:VSET,VAL:15,0", "#CMD:ERR", true},
        {"$CMD:SET,CH:1,PAR:VSET", "#CMD:ERR,VAL:ERR", true},
        {"$CMD:SET,CH:0,PAR:PDWN,VAL:kill", "#CMD:OK", false}, // letter case ignored
        {"$CMD:SET,CH:1,PAR:PDWN,VAL:1", "#CMD:ERR,VAL:ERR", true},
        {"$CMD:SET,CH:0,PAR:VMON,VAL:1.0", "#CMD:ERR", false}, // read-only
        {"$CMD:SET,CH:0,PAR:ON,VAL:ON", "#CMD:OK", false},
        {"$CMD:SET,CH:1,PAR:ON,VAL:1", "#CMD:ERR,VAL:ERR", true},
        {"$CMD:SET,PAR:BDCLR", "#CMD:OK", false},
        {"$CMD:SET,PAR:BDCLR,VAL:1", "#CMD:ERR,VAL:ERR", true},
        {"$CMD:SET,PAR:BDTERM,VAL:ON", "#CMD:OK", false},
        {"$CMD:MON,CH:0,PAR:ON", "#CMD:ERR", false}, // a command reads nothing
        {"$CMD:MON,PAR:BDCLR", "#CMD:ERR", false},
        {"$CMD:INFO,CH:4,PAR:VSET", "#CMD:ERR,CH:ERR", true},
        {"$CMD:MON,CH:0,PAR:BDNAME", "#CMD:ERR,CH:ERR", true},
        {"$CMD:MON,PAR:VSET", "#CMD:ERR,CH:ERR", true},
        {"$CMD:MON,CH:5,PAR:VSET", "#CMD:ERR,CH:ERR", false},
        {"$CMD:MON,PAR:NOSUCH", "#CMD:ERR,PAR:ERR", false},
        {"$CMD:GET,PAR:BDNAME", "#CMD:ERR", true},
        {"CMD:MON,PAR:BDNAME", "<none>", true},
    };
    TrixhvSim sim({TrixUnit::make(4, 0)});
    sim.setTickPeriod(std::chrono::milliseconds(0));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        DialectReply r = sim.trixhv().handle(c.line, true);
        EXPECT_EQ(r.text.value_or("<none>"), c.reply);
        EXPECT_EQ(!r.violation.empty(), c.violation) << r.violation;
    }
    EXPECT_DOUBLE_EQ(sim.value(0, 0, "VSET"), 15.0);
    EXPECT_DOUBLE_EQ(sim.value(0, 1, "VSET"), 0.0);
    EXPECT_DOUBLE_EQ(sim.value(0, 0, "PDWN"), 1.0);
    EXPECT_DOUBLE_EQ(sim.boardValue(0, "BDTERM"), 1.0);
    EXPECT_TRUE(sim.channelOn(0, 0));
    EXPECT_FALSE(sim.channelOn(0, 1));
    EXPECT_EQ(reply(sim.trixhv(), "$CMD:MON,CH:0,PAR:PDWN"), "#CMD:OK,VAL:KILL");

    sim.setLocal(0, true);
    EXPECT_EQ(reply(sim.trixhv(), "$CMD:SET,CH:0,PAR:VSET,VAL:020.0"), "#CMD:ERR,LOC:ERR");
    EXPECT_EQ(reply(sim.trixhv(), "$CMD:MON,PAR:BDCTR"), "#CMD:OK,VAL:LOCAL");
    EXPECT_EQ(sim.trixhv().errorReply("$CMD:MON,PAR:BDCTR", DeviceError::Cmd), "#CMD:ERR");
}

TEST(TrixhvSimPhysics, RampsTripsLatchesAlarmsAndObeysTheInterlock)
{
    TrixhvSim sim({TrixUnit::make(2, 0)});
    sim.setTickPeriod(std::chrono::milliseconds(0));
    TrixhvDialect &d = sim.trixhv();
    ASSERT_EQ(reply(d, "$CMD:SET,CH:0,PAR:VSET,VAL:100.0"), "#CMD:OK");
    ASSERT_EQ(reply(d, "$CMD:SET,CH:0,PAR:RUP,VAL:050"), "#CMD:OK");
    ASSERT_EQ(reply(d, "$CMD:SET,CH:0,PAR:ON,VAL:ON"), "#CMD:OK");
    sim.advance(1.0);
    EXPECT_EQ(reply(d, "$CMD:MON,CH:2,PAR:VMON"), "#CMD:OK,VAL:50.0;0.0");
    EXPECT_EQ(reply(d, "$CMD:MON,CH:0,PAR:STAT"), "#CMD:OK,VAL:00003"); // on, ramping up
    sim.advance(2.0);
    EXPECT_EQ(reply(d, "$CMD:MON,CH:0,PAR:VMON"), "#CMD:OK,VAL:100.0");
    EXPECT_EQ(reply(d, "$CMD:MON,CH:0,PAR:IMON"), "#CMD:OK,VAL:1.00"); // 100 V over 100 MOhm
    EXPECT_EQ(reply(d, "$CMD:MON,CH:0,PAR:STAT"), "#CMD:OK,VAL:00001");

    // Over-current beyond the trip time switches the channel off and latches
    // its alarm bit until BDCLR.
    ASSERT_EQ(reply(d, "$CMD:SET,CH:0,PAR:ISET,VAL:0.50"), "#CMD:OK");
    ASSERT_EQ(reply(d, "$CMD:SET,CH:0,PAR:TRIP,VAL:0.5"), "#CMD:OK");
    sim.advance(0.6);
    EXPECT_FALSE(sim.channelOn(0, 0));
    EXPECT_DOUBLE_EQ(sim.boardValue(0, "BDALARM"), 1.0);
    EXPECT_NE(unsigned(sim.value(0, 0, "STAT")) & kTrixTripped, 0u);
    ASSERT_EQ(reply(d, "$CMD:SET,PAR:BDCLR"), "#CMD:OK");
    EXPECT_EQ(reply(d, "$CMD:MON,PAR:BDALARM"), "#CMD:OK,VAL:00000");

    // Monitored values held by the test, then the interlock.
    sim.setMonitored(0, 1, 12.5, 0.25);
    sim.advance(5.0);
    EXPECT_EQ(reply(d, "$CMD:MON,CH:1,PAR:VMON"), "#CMD:OK,VAL:12.5");
    sim.release(0, 1);
    ASSERT_EQ(reply(d, "$CMD:SET,CH:1,PAR:ON,VAL:ON"), "#CMD:OK");
    sim.setInterlock(0, true);
    sim.advance(0.1);
    EXPECT_FALSE(sim.channelOn(0, 1));
    EXPECT_EQ(reply(d, "$CMD:MON,PAR:BDILK"), "#CMD:OK,VAL:YES");
    EXPECT_EQ(reply(d, "$CMD:MON,PAR:BDALARM"), "#CMD:OK,VAL:00256");
    ASSERT_EQ(reply(d, "$CMD:SET,CH:1,PAR:ON,VAL:ON"), "#CMD:OK");
    EXPECT_FALSE(sim.channelOn(0, 1)); // refused while the interlock is active
    sim.setExtraStatus(0, 1, 1u << 14);
    EXPECT_NE(unsigned(sim.value(0, 1, "STAT")) & (1u << 14), 0u);
}

TEST(TrixhvSimPty, RoutesBusAddressesOnOneSerialLine)
{
    TrixhvSim sim({TrixUnit::make(2, 0), TrixUnit::make(2, 5)});
    ASSERT_TRUE(sim.startPty()) << sim.error();
    int fd = ::open(("/dev/" + sim.ptyName()).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    EXPECT_EQ(simclient::exchange(fd, "$BD:5,CMD:MON,PAR:BDSNUM"), "#CMD:OK,VAL:4005\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$CMD:MON,PAR:BDSNUM"), "#CMD:OK,VAL:4000\r\n"); // the first unit
    EXPECT_EQ(simclient::exchange(fd, "$BD:7,CMD:MON,PAR:BDSNUM", 300), "");           // nobody at 7
    EXPECT_EQ(simclient::exchange(fd, "$BD:05,CMD:SET,CH:1,PAR:VSET,VAL:012.5"), "#CMD:OK\r\n");
    EXPECT_DOUBLE_EQ(sim.value(5, 1, "VSET"), 12.5);
    EXPECT_DOUBLE_EQ(sim.value(0, 1, "VSET"), 0.0);
    ASSERT_EQ(sim.violations().size(), 1u); // the leading zero
    EXPECT_NE(sim.violations()[0].find("leading zero"), std::string::npos);
    ::close(fd);
}

} // namespace
