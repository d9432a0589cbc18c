// The L5026/L5126 amplifier simulator on its own: bytes over TCP and a pty,
// the modules' answers and error replies, and the family differences.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "modules/l5026_sim.h"
#include "modules/l5126_sim.h"
#include "sim_client.h"

using namespace korusim;
using namespace std::chrono_literals;

namespace {

std::vector<std::string> split(const std::string &s, char sep)
{
    std::vector<std::string> out(1);
    for (char c : s)
        if (c == sep)
            out.emplace_back();
        else
            out.back() += c;
    return out;
}

TEST(AmpSimTcp, IdentifiesSetsAndListsAllChannelsByteExact)
{
    AmpSim sim({AmpModule::make(AmpFamily::L5026, 0), AmpModule::make(AmpFamily::L5026, 3, "L5026GE")});
    ASSERT_TRUE(sim.startTcp("127.0.0.2", 0)) << sim.error();
    int fd = simclient::connectTo("127.0.0.2", sim.port());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:MON,PAR:BDNAME"), "#BD:00,CMD:OK,VAL:L5026\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:03,CMD:MON,PAR:BDNAME"), "#BD:03,CMD:OK,VAL:L5026GE\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:MON,PAR:BDFREL"), "#BD:00,CMD:OK,VAL:3.12\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:MON,PAR:SERNUM"), "#BD:00,CMD:OK,VAL:26000\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:MON,PAR:BDNCH"), "#BD:00,CMD:OK,VAL:16\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:SET,CH:3,PAR:FGAIN,VAL:13"), "#BD:00,CMD:OK\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:SET,PAR:BDOFFSET,VAL:7"), "#BD:00,CMD:OK\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:00,CMD:MON,PAR:BDOFFSET"), "#BD:00,CMD:OK,VAL:7\r\n");

    std::string all = simclient::exchange(fd, "$BD:00,CMD:MON,CH:16,PAR:FGAIN");
    ASSERT_EQ(all.compare(0, 18, "#BD:00,CMD:OK,VAL:"), 0) << all;
    std::vector<std::string> values = split(all.substr(18, all.size() - 20), ';');
    ASSERT_EQ(values.size(), 16u);
    EXPECT_EQ(values[3], "13");
    EXPECT_EQ(values[0], "64");
    EXPECT_EQ(sim.value(0, 3, "FGAIN"), 13);
    EXPECT_EQ(sim.value(3, 3, "FGAIN"), 64); // the other module kept its own
    EXPECT_EQ(sim.boardValue(0, "BDOFFSET"), 7);

    // Front-panel changes show in the next reading.
    ASSERT_TRUE(sim.setChannelName(0, 15, "DET15"));
    std::string names = simclient::exchange(fd, "$BD:00,CMD:MON,CH:16,PAR:NAME");
    EXPECT_NE(names.find(";DET15\r\n"), std::string::npos) << names;
    EXPECT_TRUE(sim.violations().empty());
    ::close(fd);
}

struct Case {
    const char *line;
    const char *reply; // "" = no reply at all
    bool violation;
};

TEST(AmpSimDialect, RefusesWhatTheModuleWouldNotTakeAndChangesNothing)
{
    const Case cases[] = {
        {"$BD:00,CMD:SET,CH:3,PAR:FGAIN,VAL:12.7", "#BD:00,VAL:ERR", true}, // whole numbers only
        {"$BD:00,CMD:SET,CH:3,PAR:FGAIN,VAL:128", "#BD:00,VAL:ERR", false}, // above 127
        {"$BD:00,CMD:SET,CH:3,PAR:FGAIN", "#BD:00,VAL:ERR", true},
        {"$BD:00,CMD:SET,CH:0,PAR:NAME,VAL:1", "#BD:00,CMD:ERR", false}, // read-only
        {"$BD:00,CMD:SET,PAR:BDNAME,VAL:1", "#BD:00,CMD:ERR", false},
        {"$BD:00,CMD:MON,CH:17,PAR:FGAIN", "#BD:00,CH:ERR", false},
        {"$BD:00,CMD:MON,PAR:FGAIN", "#BD:00,CH:ERR", true},
        {"$BD:00,CMD:MON,CH:0,PAR:BDOFFSET", "#BD:00,CH:ERR", true},
        {"$BD:00,CMD:MON,CH:0,PAR:SLOWFGAIN", "#BD:00,PAR:ERR", false}, // an L5126 setting
        {"$BD:00,CMD:MON,CH:0,PAR:FGAIN,VAL:1", "#BD:00,VAL:ERR", true},
        {"$BD:00,CMD:GET,CH:0,PAR:FGAIN", "#BD:00,CMD:ERR", true},
        {"$BD:05,CMD:MON,PAR:BDNAME", "", false}, // nobody at 05
        {"$BD:0,CMD:MON,PAR:BDNAME", "", true},   // one digit
        {"BD:00,CMD:MON,PAR:BDNAME", "", true},
    };
    AmpDialect d({AmpModule::make(AmpFamily::L5026, 0)});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        DialectReply r = d.handle(c.line, true);
        EXPECT_EQ(r.text.value_or(""), c.reply);
        EXPECT_EQ(!r.violation.empty(), c.violation) << r.violation;
    }
    AmpModule m;
    ASSERT_TRUE(d.copyModule(0, m));
    EXPECT_EQ(m.channels[3].values["FGAIN"], 64);

    // A request the device never got (execute false) is answered as usual
    // but changes nothing.
    EXPECT_EQ(d.handle("$BD:00,CMD:SET,CH:2,PAR:THR,VAL:4095", false).text.value_or(""), "#BD:00,CMD:OK");
    ASSERT_TRUE(d.copyModule(0, m));
    EXPECT_EQ(m.channels[2].values["THR"], 100);
}

TEST(AmpSimDialect, LocalControlRefusesSetsWithLocAndStillAnswersMonitors)
{
    AmpSim sim({AmpModule::make(AmpFamily::L5026, 2)});
    sim.setLocal(2, true);
    EXPECT_EQ(sim.amp().handle("$BD:02,CMD:SET,CH:0,PAR:POL,VAL:1", true).text.value_or(""),
              "#BD:02,LOC:ERR");
    EXPECT_EQ(sim.amp().handle("$BD:02,CMD:MON,CH:0,PAR:POL", true).text.value_or(""), "#BD:02,CMD:OK,VAL:0");
    sim.setLocal(2, false);
    EXPECT_EQ(sim.amp().handle("$BD:02,CMD:SET,CH:0,PAR:POL,VAL:1", true).text.value_or(""), "#BD:02,CMD:OK");
    EXPECT_EQ(sim.value(2, 0, "POL"), 1);
    // The fault knobs word errors and foreign addresses the module's way.
    EXPECT_EQ(sim.amp().errorReply("$BD:02,CMD:MON,CH:0,PAR:POL", DeviceError::Par), "#BD:02,PAR:ERR");
    EXPECT_EQ(sim.amp().withAddress("#BD:02,CMD:OK,VAL:0", 1), "#BD:01,CMD:OK,VAL:0");
}

TEST(AmpSimDialect, L5126HoldsItsOwnSettingsAndTheAuxCoarseGain)
{
    AmpDialect d({AmpModule::make(AmpFamily::L5126, 0, "L5126GE")});
    EXPECT_EQ(d.name(), "L5126");
    EXPECT_EQ(d.handle("$BD:00,CMD:MON,PAR:BDNAME", true).text.value_or(""), "#BD:00,CMD:OK,VAL:L5126GE");
    EXPECT_STRNE(kL5126AuxCoarseGain, "AUXFGAIN");
    std::string aux = std::string("$BD:00,CMD:SET,CH:4,PAR:") + kL5126AuxCoarseGain;
    EXPECT_EQ(d.handle(aux + ",VAL:3", true).text.value_or(""), "#BD:00,CMD:OK");
    EXPECT_EQ(d.handle(aux + ",VAL:4", true).text.value_or(""), "#BD:00,VAL:ERR");
    EXPECT_EQ(d.handle("$BD:00,CMD:SET,CH:4,PAR:AUXFGAIN,VAL:191", true).text.value_or(""), "#BD:00,CMD:OK");
    EXPECT_EQ(d.handle("$BD:00,CMD:SET,CH:4,PAR:THR,VAL:4001", true).text.value_or(""), "#BD:00,VAL:ERR");
    EXPECT_EQ(d.handle("$BD:00,CMD:MON,CH:4,PAR:FGAIN", true).text.value_or(""), "#BD:00,PAR:ERR");
    AmpModule m;
    ASSERT_TRUE(d.copyModule(0, m));
    EXPECT_EQ(m.channels[4].values[kL5126AuxCoarseGain], 3);
    EXPECT_EQ(m.channels[4].values["AUXFGAIN"], 191);
    EXPECT_EQ(m.channelParams.size(), 15u);
    EXPECT_EQ(AmpModule::make(AmpFamily::L5026).channelParams.size(), 18u);
}

TEST(AmpSimPty, ServesTheVirtualComPort)
{
    AmpSim sim({AmpModule::make(AmpFamily::L5126, 1)});
    ASSERT_TRUE(sim.startPty()) << sim.error();
    int fd = ::open(("/dev/" + sim.ptyName()).c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    ::cfmakeraw(&t);
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    EXPECT_EQ(simclient::exchange(fd, "$BD:01,CMD:MON,PAR:BDNAME"), "#BD:01,CMD:OK,VAL:L5126\r\n");
    EXPECT_EQ(simclient::exchange(fd, "$BD:01,CMD:SET,CH:15,PAR:OUTSEL,VAL:1"), "#BD:01,CMD:OK\r\n");
    EXPECT_EQ(sim.value(1, 15, "OUTSEL"), 1);
    ::close(fd);
}

} // namespace
