// The L317E simulator on its own: addressed modules on one link over TCP
// and a pty, the integer values, the all-channel form and its error words.
#include <unistd.h>

#include <chrono>

#include <gtest/gtest.h>

#include "modules/l317e_sim.h"
#include "raw_link.h"

using namespace korusim;
using namespace rawlink;
using namespace std::chrono_literals;

namespace {

TEST(L317ETcp, AnswersAddressedModulesLikeTheAmplifier)
{
    L317EModule m5 = L317EModule::make(5, "L317EBB");
    m5.serial = 4242;
    L317ESim sim({m5, L317EModule::make(0)});
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startTcp("127.0.0.2", 0)) << sim.error();
    int fd = connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd, 0);
    std::string all16 = "128";
    for (int c = 1; c < 16; ++c)
        all16 += ";128";
    std::string allGain = "#BD:05,CMD:OK,VAL:" + all16;
    expectExchanges(sim, fd,
                    {
                        {"$BD:05,CMD:MON,PAR:BDNAME", "#BD:05,CMD:OK,VAL:L317EBB"},
                        {"$BD:00,CMD:MON,PAR:BDNAME", "#BD:00,CMD:OK,VAL:L317E"},
                        {"$BD:05,CMD:MON,PAR:BDFREL", "#BD:05,CMD:OK,VAL:1.02"},
                        {"$BD:05,CMD:MON,PAR:SERNUM", "#BD:05,CMD:OK,VAL:4242"},
                        {"$BD:05,CMD:MON,PAR:BDNCH", "#BD:05,CMD:OK,VAL:16"},
                        {"$BD:07,CMD:MON,PAR:BDNAME", ""}, // nobody at address 7
                        {"$BD:05,CMD:SET,CH:2,PAR:FGAIN,VAL:007", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:MON,CH:2,PAR:FGAIN", "#BD:05,CMD:OK,VAL:007"},
                        {"$BD:05,CMD:SET,CH:15,PAR:CGAIN,VAL:7", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:MON,CH:15,PAR:CGAIN", "#BD:05,CMD:OK,VAL:7"},
                        {"$BD:05,CMD:SET,CH:3,PAR:SHAPE,VAL:3", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:SET,CH:3,PAR:POL,VAL:1", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:MON,CH:3,PAR:NAME", "#BD:05,CMD:OK,VAL:IN03"},
                        {"$BD:05,CMD:SET,PAR:OFFSET,VAL:012", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:MON,PAR:OFFSET", "#BD:05,CMD:OK,VAL:012"},
                        {"$BD:05,CMD:SET,PAR:MUXEN,VAL:1", "#BD:05,CMD:OK"},
                        {"$BD:05,CMD:MON,PAR:MUXEN", "#BD:05,CMD:OK,VAL:1"},
                        {"$BD:05,CMD:MON,PAR:LASTCH", "#BD:05,CMD:OK,VAL:15"},
                        {"$BD:05,CMD:MON,CH:16,PAR:PZADJ", allGain.c_str()}, // CH:16 = all channels
                        {"$BD:00,CMD:MON,CH:2,PAR:FGAIN", "#BD:00,CMD:OK,VAL:128"},
                        // Errors.
                        {"$BD:05,CMD:SET,PAR:LASTCH,VAL:3", "#BD:05,CMD:ERR"},
                        {"$BD:05,CMD:SET,CH:0,PAR:NAME,VAL:x", "#BD:05,CMD:ERR"},
                        {"$BD:05,CMD:MON,PAR:FGAIN", "#BD:05,CH:ERR", true},
                        {"$BD:05,CMD:MON,CH:0,PAR:OFFSET", "#BD:05,CH:ERR", true},
                        {"$BD:05,CMD:MON,CH:17,PAR:FGAIN", "#BD:05,CH:ERR"},
                        {"$BD:05,CMD:MON,CH:0,PAR:GAIN", "#BD:05,PAR:ERR"},
                        {"$BD:05,CMD:SET,CH:0,PAR:CGAIN,VAL:8", "#BD:05,VAL:ERR"},
                        {"$BD:05,CMD:SET,CH:0,PAR:FGAIN,VAL:7.0", "#BD:05,VAL:ERR", true}, // integers only
                        {"$BD:05,CMD:SET,CH:0,PAR:FGAIN", "#BD:05,VAL:ERR", true},
                        {"$BD:05,CMD:MON,CH:0,PAR:FGAIN,VAL:1", "#BD:05,VAL:ERR", true},
                        {"$BD:5,CMD:MON,PAR:BDNAME", "", true}, // unreadable address: nobody answers
                        {"$CMD:MON,PAR:BDNAME", "", true},
                    });
    L317EChannel c = sim.channel(5, 2);
    EXPECT_EQ(c.fineGain, 7);
    EXPECT_EQ(sim.channel(5, 15).coarseGain, 7);
    EXPECT_EQ(sim.channel(5, 3).shape, 3);
    EXPECT_EQ(sim.channel(5, 3).outPol, 1);
    EXPECT_EQ(sim.channel(0, 2).fineGain, 128);
    EXPECT_EQ(sim.module(5).offset, 12);

    sim.setLocal(5, true);
    EXPECT_EQ(ask(fd, "$BD:05,CMD:SET,PAR:OFFSET,VAL:013"), "#BD:05,LOC:ERR\r\n");
    EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,PAR:OFFSET,VAL:013"), "#BD:00,CMD:OK\r\n");
    sim.addFault(Fault::wrongAddress("^$BD:00", 5));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:MON,PAR:OFFSET"), "#BD:05,CMD:OK,VAL:013\r\n");
    sim.addFault(Fault::errorReply("^$BD:00", DeviceError::Loc));
    EXPECT_EQ(ask(fd, "$BD:00,CMD:SET,PAR:OFFSET,VAL:014"), "#BD:00,LOC:ERR\r\n");
    EXPECT_EQ(sim.module(0).offset, 13);
    ::close(fd);
}

TEST(L317EPty, ScansTheMultiplexerAndServesShortModules)
{
    L317EModule m = L317EModule::make(3);
    m.muxScan = true;
    m.muxEnabled = 1;
    m.lastChannel = 14;
    L317ESim sim({m, L317EModule::make(4, "L317EBC", 4)});
    sim.setTickPeriod(0ms);
    ASSERT_TRUE(sim.startPty()) << sim.error();
    ASSERT_TRUE(isPtsName(sim.ptyName())) << sim.ptyName();
    int fd = openPtySlave(sim.ptyName());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:LASTCH"), "#BD:03,CMD:OK,VAL:14\r\n");
    sim.advance(2.5);
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:LASTCH"), "#BD:03,CMD:OK,VAL:0\r\n");
    sim.setLastChannel(3, 9);
    EXPECT_EQ(ask(fd, "$BD:03,CMD:MON,PAR:LASTCH"), "#BD:03,CMD:OK,VAL:9\r\n");
    // A module of fewer channels still takes CH:16 and gives fewer fields.
    EXPECT_EQ(ask(fd, "$BD:04,CMD:MON,CH:16,PAR:CGAIN"), "#BD:04,CMD:OK,VAL:0;0;0;0\r\n");
    EXPECT_EQ(ask(fd, "$BD:04,CMD:MON,CH:4,PAR:CGAIN"), "#BD:04,CH:ERR\r\n");
    EXPECT_TRUE(sim.violations().empty());
    ::close(fd);
}

} // namespace
