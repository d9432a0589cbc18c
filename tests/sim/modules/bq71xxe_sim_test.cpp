// The BQ71XXE simulator on its own: its answers over TCP and a pty, the
// unit without current ranges, its physics and its error words.
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "modules/bq71xxe_sim.h"
#include "raw_link.h"

using namespace korusim;
using namespace rawlink;
using namespace std::chrono_literals;

namespace {

class BQ71XXETcp : public ::testing::Test {
protected:
    void start(BQ71XXEUnit u)
    {
        sim = std::make_unique<BQ71XXESim>(std::move(u));
        sim->setTickPeriod(0ms);
        ASSERT_TRUE(sim->startTcp("127.0.0.2", 0)) << sim->error();
        fd = connectTo("127.0.0.2", sim->port());
        ASSERT_GE(fd, 0);
    }
    void TearDown() override
    {
        if (fd >= 0)
            ::close(fd);
    }
    std::unique_ptr<BQ71XXESim> sim;
    int fd = -1;
};

TEST_F(BQ71XXETcp, AnswersIdentityLimitsSetsAndErrorsLikeTheUnit)
{
    start(BQ71XXEUnit::make(2));
    expectExchanges(*sim, fd,
                    {
                        {"$CMD:MON,PAR:BDNAME", "#CMD:OK,VAL:BQ7104E"},
                        {"$CMD:MON,PAR:BDNCH", "#CMD:OK,VAL:2"},
                        {"$CMD:MON,PAR:BDFREL", "#CMD:OK,VAL:1.05"},
                        {"$CMD:MON,PAR:BDSNUM", "#CMD:OK,VAL:7101"},
                        {"$CMD:MON,CH:0,PAR:IMRANGE", "#CMD:OK,VAL:HIGH"},
                        {"$CMD:MON,CH:0,PAR:IMAXH", "#CMD:OK,VAL:3000"},
                        {"$CMD:MON,CH:0,PAR:IMAXL", "#CMD:OK,VAL:300"},
                        {"$CMD:MON,CH:0,PAR:IMDECL", "#CMD:OK,VAL:3"},
                        {"$CMD:MON,CH:0,PAR:VSDEC", "#CMD:OK,VAL:1"},
                        {"$CMD:SET,CH:1,PAR:VSET,VAL:150.0", "#CMD:OK"},
                        {"$CMD:MON,CH:2,PAR:VSET", "#CMD:OK,VAL:0000.0;0150.0"}, // CH = count: all channels
                        {"$CMD:SET,CH:2,PAR:RUP,VAL:120", "#CMD:OK"},
                        {"$CMD:MON,CH:2,PAR:RUP", "#CMD:OK,VAL:120;120"},
                        {"$CMD:SET,CH:0,PAR:ISET,VAL:0300.00", "#CMD:OK"},
                        {"$CMD:MON,CH:0,PAR:ISET", "#CMD:OK,VAL:0300.00"},
                        {"$CMD:SET,CH:0,PAR:IMRANGE,VAL:LOW", "#CMD:OK"},
                        {"$CMD:SET,CH:0,PAR:ISET,VAL:400.00", "#VAL:ERR"}, // above IMAXL in the low range
                        {"$CMD:SET,CH:0,PAR:PDWN,VAL:KILL", "#CMD:OK"},
                        {"$CMD:SET,CH:0,PAR:ON", "#CMD:OK"},
                        {"$CMD:MON,CH:0,PAR:STAT", "#CMD:OK,VAL:02049"}, // on + kill
                        {"$CMD:MON,CH:0,PAR:POL", "#CMD:OK,VAL:+"},
                        {"$CMD:SET,PAR:BDCLR", "#CMD:OK"},
                        {"$CMD:MON,PAR:BDALARM", "#CMD:OK,VAL:00000"},
                        {"$CMD:MON,PAR:BDILK", "#CMD:OK,VAL:NO"},
                        // Errors: CMD for commands read and read-only parameters set, CH, PAR, VAL.
                        {"$CMD:MON,CH:0,PAR:ON", "#CMD:ERR", true},
                        {"$CMD:SET,CH:0,PAR:VMON,VAL:1", "#CMD:ERR"},
                        {"$CMD:SET,CH:0,PAR:POL,VAL:-", "#CMD:ERR"},
                        {"$CMD:MON,PAR:VMON", "#CH:ERR", true},
                        {"$CMD:MON,CH:0,PAR:BDNAME", "#CH:ERR", true},
                        {"$CMD:MON,CH:3,PAR:VMON", "#CH:ERR"},
                        {"$CMD:MON,CH:0,PAR:VOLTS", "#PAR:ERR"},
                        {"$CMD:SET,PAR:BDCLR,VAL:1", "#VAL:ERR", true},
                        {"$CMD:SET,CH:0,PAR:OFF,VAL:OFF", "#VAL:ERR", true},
                        {"$CMD:SET,CH:0,PAR:VSET,VAL:1,5", "#VAL:ERR", true}, // a decimal comma
                        {"$CMD:SET,CH:0,PAR:VSET,VAL:9000.0", "#VAL:ERR"},
                        {"$CMD:SET,CH:0,PAR:VSET", "#VAL:ERR", true},
                        {"$BD:00,CMD:MON,PAR:BDNAME", "#CMD:ERR", true}, // the other dialect
                    });
    EXPECT_DOUBLE_EQ(sim->channel(1).vset, 150.0);
    EXPECT_DOUBLE_EQ(sim->channel(0).iset, 300.0);
    EXPECT_TRUE(sim->channel(0).lowRange);
    EXPECT_TRUE(sim->channel(0).on);

    sim->setLocal(true);
    expectExchanges(
        *sim, fd, {{"$CMD:SET,CH:0,PAR:OFF", "#LOC:ERR"}, {"$CMD:MON,CH:0,PAR:VSET", "#CMD:OK,VAL:0000.0"}});
    EXPECT_TRUE(sim->channel(0).on);
}

TEST_F(BQ71XXETcp, UnitWithoutCurrentRangesRefusesTheRangeMnemonics)
{
    start(BQ71XXEUnit::make(4, false));
    expectExchanges(*sim, fd,
                    {
                        {"$CMD:MON,CH:0,PAR:IMRANGE", "#PAR:ERR"},
                        {"$CMD:MON,CH:0,PAR:IMAXL", "#PAR:ERR"},
                        {"$CMD:MON,CH:0,PAR:IMDECL", "#PAR:ERR"},
                        {"$CMD:SET,CH:0,PAR:IMRANGE,VAL:LOW", "#PAR:ERR"},
                        {"$CMD:MON,CH:0,PAR:IMAXH", "#CMD:OK,VAL:3000"},
                        {"$CMD:MON,CH:0,PAR:IMDECH", "#CMD:OK,VAL:2"},
                        {"$CMD:MON,CH:4,PAR:POL", "#CMD:OK,VAL:+;+;+;+"},
                    });
}

TEST(BQ71XXEPhysics, RampsTripsAndClearsTheAlarm)
{
    BQ71XXESim sim(BQ71XXEUnit::make(2));
    sim.setTickPeriod(0ms);
    sim.withUnit([](BQ71XXEUnit &u) {
        u.channels[0].vset = 100;
        u.channels[0].rup = 50;
        u.channels[0].on = true;
        u.channels[1].vset = 100;
        u.channels[1].loadMOhm = 0.01; // 10 kOhm: far above ISET
        u.channels[1].iset = 100;
        u.channels[1].trip = 0;
        u.channels[1].on = true;
    });
    sim.advance(1.0);
    EXPECT_DOUBLE_EQ(sim.channel(0).vmon, 50.0);
    EXPECT_EQ(sim.channel(0).status(), kBQ71XXEOn | kBQ71XXERampUp);
    sim.advance(2.0);
    EXPECT_DOUBLE_EQ(sim.channel(0).vmon, 100.0);
    EXPECT_EQ(sim.channel(0).status(), unsigned(kBQ71XXEOn));
    EXPECT_TRUE(sim.channel(1).tripped);
    EXPECT_FALSE(sim.channel(1).on);
    EXPECT_EQ(sim.unit().alarm, 2u); // bit of channel 1

    ASSERT_TRUE(sim.startPty()) << sim.error();
    int fd = openPtySlave(sim.ptyName());
    ASSERT_GE(fd, 0);
    expectExchanges(sim, fd,
                    {
                        {"$CMD:MON,CH:0,PAR:VMON", "#CMD:OK,VAL:0100.0"},
                        {"$CMD:MON,CH:0,PAR:IMON", "#CMD:OK,VAL:0001.00"}, // 100 V into 100 MOhm
                        {"$CMD:MON,PAR:BDALARM", "#CMD:OK,VAL:00002"},
                        {"$CMD:SET,PAR:BDCLR", "#CMD:OK"},
                        {"$CMD:MON,PAR:BDALARM", "#CMD:OK,VAL:00000"},
                    });
    ::close(fd);
    sim.setInterlock(true);
    sim.advance(0.1);
    EXPECT_FALSE(sim.channel(0).on);
    EXPECT_TRUE(sim.unit().alarm & kBQ71XXEAlarmInterlock);
}

TEST(BQ71XXEFaults, ErrorFaultUsesTheUnitsWordsAndChangesNothing)
{
    BQ71XXESim sim;
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startTcp("127.0.0.3", 0)) << sim.error();
    int fd = connectTo("127.0.0.3", sim.port());
    ASSERT_GE(fd, 0);
    const std::pair<DeviceError, const char *> kinds[] = {{DeviceError::Cmd, "#CMD:ERR"},
                                                          {DeviceError::Ch, "#CH:ERR"},
                                                          {DeviceError::Par, "#PAR:ERR"},
                                                          {DeviceError::Val, "#VAL:ERR"},
                                                          {DeviceError::Loc, "#LOC:ERR"}};
    for (auto &[kind, word] : kinds) {
        sim.addFault(Fault::errorReply("PAR:VSET", kind));
        EXPECT_EQ(ask(fd, "$CMD:SET,CH:0,PAR:VSET,VAL:010.0"), std::string(word) + "\r\n");
    }
    EXPECT_DOUBLE_EQ(sim.channel(0).vset, 0.0);
    sim.addFault(Fault::wrongAddress("BDNAME", 7)); // no address in this dialect: unchanged
    EXPECT_EQ(ask(fd, "$CMD:MON,PAR:BDNAME"), "#CMD:OK,VAL:BQ7104E\r\n");
    ::close(fd);
}

} // namespace
